// The device link against the virtual platform: search, record, probe, open and transfer rules.
#include "velmora_usb.h"

#include <gtest/gtest.h>

#include "transcript.h"
#include "virtual_chip.h"

namespace velmora {
namespace {

using Kind = sim::TranscriptEvent::Kind;
const std::string kFirst = "usb#vid_1d7a&pid_6000#1", kSecond = "usb#vid_1d7a&pid_6000#2";

class LinkTest : public ::testing::Test {
 protected:
  sim::Transcript transcript;
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb link{platform};
  sim::VirtualClock clock;
  sim::VirtualChip device{clock};
};

// Every match is recorded and probed on a handle of its own; the last match gives the path and
// the outcome. A match that cannot be opened is found but probed with nothing sent.
TEST_F(LinkTest, TheLastMatchGivesPathAndProbeOutcome) {
  platform.Plug(kFirst, &device);
  platform.Plug(kSecond, &device);
  for (const auto& [first_opens, second_opens] :
       {std::pair{false, false}, {true, false}, {false, true}}) {
    SCOPED_TRACE(testing::Message() << first_opens << second_opens);
    platform.SetOpenFails(kFirst, !first_opens);
    platform.SetOpenFails(kSecond, !second_opens);
    VelmoraUsb fresh{platform};
    transcript.Clear();
    EXPECT_EQ(fresh.FindDevice(), second_opens);
    EXPECT_TRUE(fresh.IsFound() == 1 && fresh.DevicePath() == kSecond);
    EXPECT_EQ(transcript.Count(Kind::Probe), std::size_t{first_opens} + second_opens);
    EXPECT_TRUE(platform.OpenHandleCount() == 0 && fresh.Handle() == kNoHandle);
  }
}

// A search without a match (or without a list) leaves found set; a presence check clears it,
// keeping the path, and never probes.
TEST_F(LinkTest, FoundSurvivesAFailedSearchUntilAPresenceCheck) {
  platform.Plug(kFirst, &device);
  for (const bool unplug : {true, false}) {
    EXPECT_TRUE(link.FindDevice());
    unplug ? platform.Unplug(kFirst) : platform.SetEnumerationFails(true);
    EXPECT_FALSE(link.FindDevice() || link.IsFound() == 0);
    EXPECT_FALSE(link.CheckPresence() || link.IsFound() == 1);
    platform.Plug(kFirst, &device);
  }
  platform.SetEnumerationFails(false);
  EXPECT_TRUE(link.CheckPresence());
  link.ClearFound();
  EXPECT_FALSE(link.IsFound());
  EXPECT_TRUE(link.DevicePath() == kFirst && transcript.Count(Kind::Probe) == 2);
}

// An exact, case-sensitive substring of at most 49 characters; an empty text matches nothing,
// and a path longer than the 511 the field holds is skipped.
TEST_F(LinkTest, MatchingRules) {
  platform.Plug("\\\\?\\usb#vid_6ccf&pid_6012#5&1a", &device);
  for (const std::string row :
       {"+vid_6ccf&pid_6012", "-vid_6CCF&pid_6012", "-", "+pid_6012#5", "-vid_6ccf&pid_6013"}) {
    link.SetMatchText(row.substr(1));
    EXPECT_EQ(link.CheckPresence(), row[0] == '+') << row;
  }
  link.SetMatchText(std::string(60, 'x'));
  EXPECT_EQ(link.MatchText(), std::string(49, 'x'));
  const std::string longest = kFirst + std::string(511 - kFirst.size(), 'p');
  link.SetMatchText(kFirst);
  platform.Plug(longest, &device);
  platform.Plug(longest + "p", &device);
  EXPECT_TRUE(link.FindDevice() && link.DevicePath() == longest);
}

// No handle: nothing is sent; a failed open's invalid marker reaches the platform and fails.
// The back-end selector changes the next transfer on the same handle; Open closes a held handle
// and the link's end closes the last.
TEST_F(LinkTest, TransfersGoOnTheHeldHandleWithTheSelectedBackend) {
  std::uint8_t byte = 0;
  EXPECT_FALSE(link.ControlTransfer(0xC3, 0x91, 0, 0, &byte, 1));
  platform.Plug(kFirst, &device);
  platform.SetOpenFails(kFirst);
  EXPECT_FALSE(link.FindDevice() || link.Open() ||
               link.ControlTransfer(0xC3, 0x91, 0, 0, &byte, 1));
  platform.SetOpenFails(kFirst, false);
  {
    VelmoraUsb scoped{platform};
    ASSERT_TRUE(scoped.FindDevice() && scoped.Open() && scoped.Open());
    EXPECT_EQ(platform.OpenHandleCount(), 1u);
    for (const auto backend : {VelmoraUsb::kGenericBackend, VelmoraUsb::kPropertyBackend}) {
      scoped.SetBackend(backend);
      EXPECT_TRUE(scoped.ControlTransfer(0xC3, 0x91, 0, 0xA6, &byte, 1));
    }
  }
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
  const auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_TRUE(t[0].handle == kInvalidHandle && t[1].handle == t[2].handle);
  EXPECT_TRUE(t[1].backend == Backend::Generic && t[2].backend == Backend::Property);
}

}  // namespace
}  // namespace velmora
