// The presence monitor against the virtual platform: search order, announcements, intervals,
// the busy freeze, switching off and the user match text.
#include "presence_monitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transcript.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora {
namespace {

using Kind = sim::TranscriptEvent::Kind;

class PresenceMonitorTest : public ::testing::Test {
 protected:
  sim::Transcript transcript;
  sim::VirtualClock clock;
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  sim::VirtualChip chip{clock};
  PresenceMonitor monitor{usb};

  // Ticks until found, at most `limit` times; the number of ticks taken (limit + 1 if never).
  int TicksUntilFound(int limit) {
    for (int tick = 1; tick <= limit; ++tick) {
      monitor.Tick(false);
      if (usb.IsFound()) return tick;
    }
    return limit + 1;
  }
};

TEST_F(PresenceMonitorTest, AlternatesUserDeviceAndBothLoadersWhileNothingIsAttached) {
  monitor.SwitchOn("6ccf", "6012");
  struct Step {
    const char* match_text;
    std::uint8_t backend;
    std::optional<unsigned> interval;
  };
  const Step steps[] = {
      {"vid_6ccf&pid_6012", VelmoraUsb::kPropertyBackend, std::nullopt},
      {"vid_6ccf&pid_6000", VelmoraUsb::kGenericBackend, 300},
      {"vid_6ccf&pid_6012", VelmoraUsb::kPropertyBackend, std::nullopt},
      {"vid_1d7a&pid_6000", VelmoraUsb::kGenericBackend, 300},
      {"vid_6ccf&pid_6012", VelmoraUsb::kPropertyBackend, std::nullopt},
      {"vid_6ccf&pid_6000", VelmoraUsb::kGenericBackend, 300},
  };
  for (const Step& step : steps) {
    const TickOutcome outcome = monitor.Tick(false);
    EXPECT_EQ(usb.MatchText(), step.match_text);
    EXPECT_EQ(usb.GetBackend(), step.backend);
    EXPECT_EQ(outcome.interval_ms, step.interval) << step.match_text;
    ASSERT_TRUE(outcome.display.has_value());
    EXPECT_EQ(outcome.display->colour, IndicatorColour::ButtonFace);
    EXPECT_EQ(outcome.display->label, "No device is available");
  }
  EXPECT_EQ(transcript.Count(Kind::Enumerate), std::size(steps));
}

TEST_F(PresenceMonitorTest, AnnouncesWhatEachSearchFinds) {
  const struct {
    const char* path;
    const char* pid;
    int ticks;  // the search order reaches the 6CCF loader second, the 1D7A loader fourth
    std::uint8_t backend;
    const char* label;
  } cases[] = {
      {sim::kAudioPath, "6012", 1, VelmoraUsb::kPropertyBackend, "Device 6012 is exist"},
      {sim::kLoaderPath6ccf, "6012", 2, VelmoraUsb::kGenericBackend,
       "Firmware update device 6CCF is exist"},
      {sim::kLoaderPath1d7a, "6012", 4, VelmoraUsb::kGenericBackend,
       "Firmware update device 1D7A is exist"},
      // The label shows the PID text as typed, around the literal words.
      {"usb:vid_6ccf&pid_60ab:bus1-port2", "60AB", 1, VelmoraUsb::kPropertyBackend,
       "Device 60AB is exist"},
  };
  for (const auto& c : cases) {
    sim::VirtualUsbPlatform bus;
    VelmoraUsb link{bus};
    PresenceMonitor watch{link};
    sim::VirtualChip device{clock};
    device.PlugInto(bus, c.path);
    watch.SwitchOn("6ccf", c.pid);
    TickOutcome outcome;
    int tick = 0;
    while (!link.IsFound() && tick < 8) {
      outcome = watch.Tick(false);
      ++tick;
    }
    EXPECT_EQ(tick, c.ticks) << c.path;
    EXPECT_EQ(link.GetBackend(), c.backend) << c.path;
    ASSERT_TRUE(outcome.display.has_value());
    EXPECT_EQ(outcome.display->colour, IndicatorColour::Lime) << c.path;
    EXPECT_EQ(outcome.display->label, c.label);
    EXPECT_EQ(link.DevicePath(), c.path);
  }
}

// The command line's detect: each identity searched once, in the ticks' order, up to the first
// found; a device found before is forgotten first, so a vanished one is not announced.
TEST_F(PresenceMonitorTest, LookOnceSearchesEachIdentityOnceUpToTheFirstFound) {
  const struct {
    const char* path;  // plugged in, or nullptr
    std::vector<std::string> searched;
    const char* label;
  } cases[] = {
      {nullptr,
       {"vid_6ccf&pid_6012", "vid_6ccf&pid_6000", "vid_1d7a&pid_6000"},
       "No device is available"},
      {sim::kAudioPath, {"vid_6ccf&pid_6012"}, "Device 6012 is exist"},
      {sim::kLoaderPath6ccf,
       {"vid_6ccf&pid_6012", "vid_6ccf&pid_6000"},
       "Firmware update device 6CCF is exist"},
      {sim::kLoaderPath1d7a,
       {"vid_6ccf&pid_6012", "vid_6ccf&pid_6000", "vid_1d7a&pid_6000"},
       "Firmware update device 1D7A is exist"},
  };
  for (const auto& c : cases) {
    sim::VirtualUsbPlatform bus;
    VelmoraUsb link{bus};
    PresenceMonitor look{link};
    sim::VirtualChip device{clock};
    sim::VirtualChip gone{clock};
    if (c.path != nullptr) device.PlugInto(bus, c.path, sim::Visibility::Both);
    look.SwitchOn("6CCF", "6012");
    if (c.path == nullptr) {  // a device found before, gone since
      gone.PlugInto(bus, sim::kAudioPath);
      link.SetBackend(VelmoraUsb::kPropertyBackend);
      link.SetMatchText("vid_6ccf&pid_6012");
      ASSERT_TRUE(link.FindDevice());
      gone.Unplug();
    }
    sim::Transcript looked;
    bus.SetTranscript(&looked);
    const PresenceDisplay shown = look.LookOnce();
    EXPECT_EQ(looked.Count(Kind::Enumerate), c.searched.size()) << c.label;
    EXPECT_EQ(link.MatchText(), c.searched.back()) << c.label;
    EXPECT_EQ(shown.label, c.label);
    EXPECT_EQ(link.IsFound() != 0, c.path != nullptr) << c.label;
  }
}

TEST_F(PresenceMonitorTest, FoundCountsEvenWhenTheProbeFails) {
  chip.PlugInto(platform);
  chip.SetProbeFails(true);
  monitor.SwitchOn("6ccf", "6012");
  const TickOutcome outcome = monitor.Tick(false);
  EXPECT_TRUE(usb.IsFound());
  EXPECT_EQ(outcome.display->label, "Device 6012 is exist");
}

TEST_F(PresenceMonitorTest, PresentDeviceIsCheckedEverySecondAndItsUnplugSeenAtTheNextTick) {
  chip.PlugInto(platform);
  monitor.SwitchOn("6ccf", "6012");
  ASSERT_EQ(TicksUntilFound(1), 1);

  transcript.Clear();
  TickOutcome outcome = monitor.Tick(false);
  EXPECT_EQ(outcome.interval_ms, 1000u);
  EXPECT_EQ(outcome.display->label, "Device 6012 is exist");
  EXPECT_EQ(transcript.Count(Kind::Probe), 0u);  // a presence check only lists, never probes

  chip.Unplug();
  outcome = monitor.Tick(false);
  EXPECT_FALSE(usb.IsFound());
  EXPECT_EQ(outcome.interval_ms, 1000u);
  EXPECT_EQ(outcome.display->colour, IndicatorColour::ButtonFace);
  EXPECT_EQ(outcome.display->label, "No device is available");

  // The search resumes with the other back-end than the one in use: the 6CCF loader.
  outcome = monitor.Tick(false);
  EXPECT_EQ(usb.MatchText(), "vid_6ccf&pid_6000");
  EXPECT_EQ(outcome.interval_ms, 300u);
}

TEST_F(PresenceMonitorTest, BusyTickNeitherSearchesNorChangesAnything) {
  chip.PlugInto(platform);
  monitor.SwitchOn("6ccf", "6012");
  ASSERT_EQ(TicksUntilFound(1), 1);
  chip.Unplug();
  transcript.Clear();
  for (int i = 0; i < 3; ++i) {
    const TickOutcome outcome = monitor.Tick(true);
    EXPECT_FALSE(outcome.display.has_value());
    EXPECT_FALSE(outcome.interval_ms.has_value());
  }
  EXPECT_TRUE(transcript.Events().empty());
  EXPECT_TRUE(usb.IsFound());
  EXPECT_EQ(monitor.Tick(false).display->label, "No device is available");
}

TEST_F(PresenceMonitorTest, TickWhileOffOnlyClosesAHandleOfAFoundDevice) {
  chip.PlugInto(platform);
  for (const bool found : {true, false}) {
    usb.SetBackend(VelmoraUsb::kPropertyBackend);
    usb.SetMatchText("vid_6ccf&pid_6012");
    ASSERT_TRUE(usb.FindDevice());
    ASSERT_TRUE(usb.Open());
    if (!found) usb.ClearFound();
    transcript.Clear();

    const TickOutcome outcome = monitor.Tick(false);
    EXPECT_FALSE(outcome.display.has_value());
    EXPECT_EQ(transcript.Count(Kind::Enumerate), 0u);
    EXPECT_EQ(usb.Handle() == kNoHandle, found) << "found " << found;
    EXPECT_EQ(platform.OpenHandleCount(), found ? 0u : 1u);
    usb.Close();
  }
}

TEST_F(PresenceMonitorTest, SwitchingOffForgetsTheDeviceAndStopsSearching) {
  chip.PlugInto(platform);
  monitor.SwitchOn("6ccf", "6012");
  ASSERT_EQ(TicksUntilFound(1), 1);
  monitor.SwitchOff();
  EXPECT_FALSE(monitor.IsOn());
  EXPECT_FALSE(usb.IsFound());
  transcript.Clear();
  monitor.Tick(false);
  EXPECT_EQ(transcript.Count(Kind::Enumerate), 0u);
}

TEST_F(PresenceMonitorTest, SwitchingOnLowersTheMatchTextButNotTheIds) {
  chip.PlugInto(platform);
  monitor.SwitchOn("6CCF", "6012");
  EXPECT_EQ(monitor.UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(monitor.VidText(), "6CCF");
  EXPECT_EQ(TicksUntilFound(1), 1);
}

TEST_F(PresenceMonitorTest, EnterTakesOneIdAsTypedWithoutLowering) {
  monitor.SwitchOn("6ccf", "6012");
  monitor.SwitchOff();
  monitor.TakeVid("6CCF");
  EXPECT_EQ(monitor.UserMatchText(), "vid_6CCF&pid_6012");
  monitor.TakePid("60AB");
  EXPECT_EQ(monitor.UserMatchText(), "vid_6CCF&pid_60AB");
  EXPECT_EQ(monitor.PidText(), "60AB");
}

TEST_F(PresenceMonitorTest, UserMatchTextIsCutToItsFirst31Characters) {
  const std::string pid22(22, '7');  // "vid_" + 4 + "&pid_" + 22 = 35 characters
  const struct {
    std::string vid, pid;
    std::string expected;
  } cases[] = {
      {"6ccf", "6012", "vid_6ccf&pid_6012"},
      {"6ccf", std::string(18, '1'), "vid_6ccf&pid_" + std::string(18, '1')},  // exactly 31
      {"6ccf", std::string(19, '1'), "vid_6ccf&pid_" + std::string(18, '1')},  // 32 -> 31
      {"6CCF", pid22, "vid_6ccf&pid_" + pid22.substr(0, 18)},
      {std::string(40, 'A'), "6012", "vid_" + std::string(27, 'a')},
  };
  for (const auto& c : cases) {
    monitor.SwitchOn(c.vid, c.pid);
    EXPECT_EQ(monitor.UserMatchText(), c.expected);
    EXPECT_EQ(monitor.PidText(), c.pid);  // the ids themselves stay whole
    monitor.SwitchOff();
    monitor.TakePid(c.pid);
    EXPECT_LE(monitor.UserMatchText().size(), PresenceMonitor::kMaxUserMatchText);
  }
}

}  // namespace
}  // namespace velmora
