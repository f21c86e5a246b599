// The device link against the virtual platform: search, record, probe, open and transfer rules.
#include "velmora_usb.h"

#include <gtest/gtest.h>

#include "transcript.h"
#include "virtual_usb_platform.h"

namespace velmora {
namespace {

using sim::Transcript;
using sim::TranscriptEvent;
using Kind = sim::TranscriptEvent::Kind;

// A device whose probe answer is scripted and which accepts every transfer.
class ScriptedDevice : public sim::VirtualDevice {
 public:
  explicit ScriptedDevice(bool probe_ok = true) : probe_ok_(probe_ok) {}
  bool HandleControl(Backend, const ControlSetup&, std::uint8_t*, std::uint32_t) override {
    ++calls_;
    return true;
  }
  bool HandleProbe(Backend) override { return probe_ok_; }
  int Calls() const { return calls_; }

 private:
  bool probe_ok_;
  int calls_ = 0;
};

class LinkTest : public ::testing::Test {
 protected:
  Transcript transcript;
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb link{platform};
  ScriptedDevice answers{true};
  ScriptedDevice silent{false};
};

TEST_F(LinkTest, StartsWithLoaderMatchTextGenericBackendAndNoHandle) {
  EXPECT_EQ(link.MatchText(), "vid_1d7a&pid_6000");
  EXPECT_EQ(link.GetBackend(), VelmoraUsb::kGenericBackend);
  EXPECT_EQ(link.IsFound(), 0);
  EXPECT_EQ(link.Handle(), kNoHandle);
  EXPECT_EQ(link.DevicePath(), "");
}

TEST_F(LinkTest, LaterOfTwoMatchesWinsPathAndProbeOutcome) {
  platform.Plug("usb#vid_1d7a&pid_6000#1", &answers);
  platform.Plug("usb#vid_1d7a&pid_6000#2", &silent);
  EXPECT_FALSE(link.FindDevice());  // the later device's probe fails
  EXPECT_EQ(link.IsFound(), 1);
  EXPECT_EQ(link.DevicePath(), "usb#vid_1d7a&pid_6000#2");
  EXPECT_EQ(transcript.Count(Kind::Probe), 2u);
  // Each probe ran on a handle of its own, closed again; the link holds none.
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
  EXPECT_EQ(link.Handle(), kNoHandle);
}

// A device that is listed but cannot be opened is recorded and found, but its probe sends
// nothing and counts as no answer; the outcome is the last match's.
TEST_F(LinkTest, AFailedOpenDuringTheProbeSendsNothingAndAnswersFalse) {
  const std::string first = "usb#vid_1d7a&pid_6000#1", second = "usb#vid_1d7a&pid_6000#2";
  const struct {
    const char* name;
    bool first_opens, second_opens;
    bool outcome;
  } cases[] = {
      {"neither opens", false, false, false},
      {"only the first opens", true, false, false},
      {"only the last opens", false, true, true},
  };
  platform.Plug(first, &answers);
  platform.Plug(second, &answers);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform.SetOpenFails(first, !c.first_opens);
    platform.SetOpenFails(second, !c.second_opens);
    VelmoraUsb fresh{platform};
    transcript.Clear();
    EXPECT_EQ(fresh.FindDevice(), c.outcome);
    EXPECT_EQ(fresh.IsFound(), 1);
    EXPECT_EQ(fresh.DevicePath(), second);
    // One probe per handle that opened, and a close for it; nothing on a failed open.
    const std::size_t opened = (c.first_opens ? 1 : 0) + (c.second_opens ? 1 : 0);
    EXPECT_EQ(transcript.Count(Kind::Open), 2u);
    EXPECT_EQ(transcript.Count(Kind::Probe), opened);
    EXPECT_EQ(transcript.Count(Kind::Close), opened);
    for (const auto& e : transcript.Events()) {
      if (e.kind == Kind::Probe || e.kind == Kind::Close) {
        EXPECT_NE(e.handle, kInvalidHandle);
      }
    }
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_EQ(answers.Calls(), 0);
  }
}

TEST_F(LinkTest, FoundSurvivesAFailedSearchUntilPresenceCheckOrClear) {
  platform.Plug("usb#vid_1d7a&pid_6000#1", &answers);
  EXPECT_TRUE(link.FindDevice());
  platform.Unplug("usb#vid_1d7a&pid_6000#1");
  EXPECT_FALSE(link.FindDevice());
  EXPECT_EQ(link.IsFound(), 1);
  EXPECT_FALSE(link.CheckPresence());
  EXPECT_EQ(link.IsFound(), 0);
  EXPECT_EQ(link.DevicePath(), "usb#vid_1d7a&pid_6000#1");  // the path stays recorded

  platform.Plug("usb#vid_1d7a&pid_6000#1", &answers);
  EXPECT_TRUE(link.CheckPresence());
  EXPECT_EQ(transcript.Count(Kind::Probe), 1u);  // presence checks never probe
  link.ClearFound();
  EXPECT_EQ(link.IsFound(), 0);
}

TEST_F(LinkTest, MatchingIsAnExactCaseSensitiveNonEmptySubstring) {
  platform.Plug("\\\\?\\usb#vid_6ccf&pid_6012#5&1a", &answers);
  struct Case {
    const char* match;
    bool found;
  } cases[] = {{"vid_6ccf&pid_6012", true},
               {"vid_6CCF&pid_6012", false},
               {"", false},
               {"pid_6012#5", true},
               {"vid_6ccf&pid_6013", false}};
  for (const auto& c : cases) {
    link.SetMatchText(c.match);
    EXPECT_EQ(link.CheckPresence(), c.found) << c.match;
  }
}

TEST_F(LinkTest, MatchTextIsCutTo49AndOverlongPathsAreSkipped) {
  link.SetMatchText(std::string(60, 'x'));
  EXPECT_EQ(link.MatchText().size(), 49u);

  const std::string overlong = "vid_1d7a&pid_6000" + std::string(495, 'p');  // 512 characters
  const std::string longest = "vid_1d7a&pid_6000" + std::string(494, 'p');   // 511 characters
  link.SetMatchText("vid_1d7a&pid_6000");
  platform.Plug(longest, &answers);
  platform.Plug(overlong, &answers);
  EXPECT_TRUE(link.FindDevice());
  EXPECT_EQ(link.DevicePath(), longest);
}

TEST_F(LinkTest, UnobtainableListLeavesFoundOnFindButClearsItOnCheck) {
  platform.Plug("vid_1d7a&pid_6000", &answers);
  ASSERT_TRUE(link.FindDevice());
  platform.SetEnumerationFails(true);
  EXPECT_FALSE(link.FindDevice());
  EXPECT_EQ(link.IsFound(), 1);
  EXPECT_FALSE(link.CheckPresence());
  EXPECT_EQ(link.IsFound(), 0);
}

TEST_F(LinkTest, TransferWithoutHandleMakesNoPlatformCall) {
  std::uint8_t byte = 0;
  EXPECT_FALSE(link.ControlTransfer(0xC3, 0x91, 0, 0, &byte, 1));
  EXPECT_TRUE(transcript.Transfers().empty());
}

TEST_F(LinkTest, DataStageWithoutABufferFailsWithoutReachingTheDevice) {
  platform.Plug("vid_1d7a&pid_6000", &answers);
  ASSERT_TRUE(link.FindDevice());
  ASSERT_TRUE(link.Open());
  EXPECT_FALSE(link.ControlTransfer(0x43, 0x90, 0, 0, nullptr, 4));
  EXPECT_FALSE(link.ControlTransfer(0xC3, 0x91, 0, 0, nullptr, 4));
  EXPECT_EQ(answers.Calls(), 0);
  EXPECT_TRUE(link.ControlTransfer(0x43, 0x84, 0x3B71, 0x9E04, nullptr, 0));  // no data stage
  EXPECT_EQ(answers.Calls(), 1);
}

TEST_F(LinkTest, FailedOpenLeavesInvalidMarkerAndTransfersReachThePlatformAndFail) {
  link.SetMatchText("vid_1d7a&pid_6000");
  platform.Plug("vid_1d7a&pid_6000", &answers);
  ASSERT_TRUE(link.FindDevice());
  platform.Unplug("vid_1d7a&pid_6000");
  EXPECT_FALSE(link.Open());
  EXPECT_EQ(link.Handle(), kInvalidHandle);
  std::uint8_t byte = 0x42;
  EXPECT_FALSE(link.ControlTransfer(0x43, 0x90, 0, 0, &byte, 1));
  ASSERT_EQ(transcript.Transfers().size(), 1u);
  EXPECT_EQ(transcript.Transfers()[0].handle, kInvalidHandle);
  link.Close();
  EXPECT_EQ(link.Handle(), kNoHandle);
}

TEST_F(LinkTest, BackendSwitchChangesTheNextTransferOnTheSameHandle) {
  platform.Plug("vid_1d7a&pid_6000", &answers);
  ASSERT_TRUE(link.FindDevice());
  ASSERT_TRUE(link.Open());
  const UsbHandle handle = link.Handle();
  std::uint8_t byte = 0;
  link.ControlTransfer(0xC3, 0x91, 0, 0xA6, &byte, 1);
  link.SetBackend(VelmoraUsb::kPropertyBackend);
  link.ControlTransfer(0xC3, 0x91, 0, 0xA6, &byte, 1);
  const auto transfers = transcript.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].backend, Backend::Generic);
  EXPECT_EQ(transfers[1].backend, Backend::Property);
  EXPECT_EQ(transfers[0].handle, handle);
  EXPECT_EQ(transfers[1].handle, handle);
  EXPECT_EQ(transfers[1].setup.index, 0xA6);
}

TEST_F(LinkTest, OpenClosesAHeldHandleFirstAndDestructionClosesTheLast) {
  platform.Plug("vid_1d7a&pid_6000", &answers);
  {
    VelmoraUsb scoped{platform};
    ASSERT_TRUE(scoped.FindDevice());
    ASSERT_TRUE(scoped.Open());
    ASSERT_TRUE(scoped.Open());
    EXPECT_EQ(platform.OpenHandleCount(), 1u);
  }
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace velmora
