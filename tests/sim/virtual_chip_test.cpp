// The chip's request dispatch, ISP keys, pass-through pieces and injected faults, through the
// virtual USB platform.
#include "virtual_chip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

class VirtualChipTest : public ::testing::Test {
 protected:
  VirtualChipTest() : chip(clock, Config()) {
    chip.PlugInto(platform);
    handle = platform.Open(kAudioPath);
  }
  static FlashConfig Config() {
    FlashConfig config;
    config.fill = 0xCC;
    return config;
  }

  bool Transfer(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                Bytes& data) {
    return platform.ControlTransfer(handle, Backend::Property, {type, request, value, index},
                                    data.data(), static_cast<std::uint32_t>(data.size()));
  }
  bool Out(std::uint8_t request, std::uint16_t value, std::uint16_t index, Bytes data) {
    return Transfer(0x43, request, value, index, data);
  }
  bool EnterIsp() { return Out(0x84, 0x3B71, 0x9E04, {}); }
  bool ExitIsp() { return Out(0x85, 0x6D2A, 0xC85E, {}); }
  // 0x83: the byte answered, or -1 when the transfer failed.
  int Ready() {
    Bytes answer{0xAA};
    return Transfer(0xC3, 0x83, 0, 0, answer) ? answer[0] : -1;
  }
  Bytes Fetch(std::size_t count) {
    Bytes answer(count, 0xEE);
    Transfer(0xC3, 0x82, 0, 0, answer);
    return answer;
  }
  bool FetchWorks(std::size_t count) {
    Bytes answer(count, 0xEE);
    return Transfer(0xC3, 0x82, 0, 0, answer);
  }
  // The register writes that follow the entry key and hand the flash to the bridge.
  void IspSetUp() {
    Out(0x90, 0, 0x00, {0x0D});
    Out(0x90, 0, 0x07, {0x10});
    Out(0x90, 0, 0x01, {0x03});
  }
  void EnterIspFully() {
    EnterIsp();
    IspSetUp();
  }
  Bytes ReadId() {
    Out(0x81, 3, 1, {0x9F});
    Ready();
    return Fetch(3);
  }
  bool Present() {
    std::vector<std::string> paths;
    platform.EnumerateInterfaces(Backend::Property, paths);
    return !paths.empty();
  }

  VirtualClock clock;
  VirtualUsbPlatform platform;
  VirtualChip chip;
  UsbHandle handle = kNoHandle;
};

TEST_F(VirtualChipTest, AcceptsOnlyExactSetupValuesAndLengths) {
  EnterIspFully();
  const struct {
    const char* name;
    std::uint8_t type, request;
    std::uint16_t value, index;
    std::uint32_t length;
    bool ok;
  } cases[] = {
      {"spi write, last piece", 0x43, 0x80, 0, 1, 1, true},
      {"spi write, more pieces", 0x43, 0x80, 0, 0, 256, true},
      {"spi write, IN", 0xC3, 0x80, 0, 1, 1, false},
      {"spi write, wIndex 2", 0x43, 0x80, 0, 2, 1, false},
      {"spi write, wValue 1", 0x43, 0x80, 1, 1, 1, false},
      {"spi write, empty", 0x43, 0x80, 0, 1, 0, false},
      {"spi write, 257 bytes", 0x43, 0x80, 0, 1, 257, false},
      {"read command, opcode only", 0x43, 0x81, 255, 1, 1, true},
      {"read command, opcode and address", 0x43, 0x81, 255, 1, 4, true},
      {"read command, wIndex 0", 0x43, 0x81, 3, 0, 1, false},
      {"read command, 256 back", 0x43, 0x81, 256, 1, 4, false},
      {"read command, 2 bytes", 0x43, 0x81, 3, 1, 2, false},
      {"read command, 3 bytes", 0x43, 0x81, 3, 1, 3, false},
      {"read command, 5 bytes", 0x43, 0x81, 3, 1, 5, false},
      {"read command, empty", 0x43, 0x81, 3, 1, 0, false},
      {"read command, IN", 0xC3, 0x81, 3, 1, 1, false},
      {"ready", 0xC3, 0x83, 0, 0, 1, true},
      {"ready, 2 bytes", 0xC3, 0x83, 0, 0, 2, false},
      {"ready, OUT", 0x43, 0x83, 0, 0, 1, false},
      {"ready, wIndex 1", 0xC3, 0x83, 0, 1, 1, false},
      {"read data", 0xC3, 0x82, 0, 0, 255, true},
      {"read data, OUT", 0x43, 0x82, 0, 0, 1, false},
      {"read data, 256 bytes", 0xC3, 0x82, 0, 0, 256, false},
      {"read data, empty", 0xC3, 0x82, 0, 0, 0, false},
      {"read data, wValue 1", 0xC3, 0x82, 1, 0, 1, false},
      {"register write", 0x43, 0x90, 0, 0x1234, 1, true},
      {"register write, 2 bytes", 0x43, 0x90, 0, 0x12, 2, false},
      {"register write, IN", 0xC3, 0x90, 0, 0x12, 1, false},
      {"register read", 0xC3, 0x91, 0, 0x12, 1, true},
      {"register read, OUT", 0x43, 0x91, 0, 0x12, 1, false},
      {"register read, wValue 1", 0xC3, 0x91, 1, 0x12, 1, false},
      {"register read, empty", 0xC3, 0x91, 0, 0x12, 0, false},
      {"unknown request", 0x43, 0x86, 0, 0, 0, false},
      {"standard request type", 0x40, 0x90, 0, 0x12, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data(c.length, 0x00);
    EXPECT_EQ(Transfer(c.type, c.request, c.value, c.index, data), c.ok);
  }
}

TEST_F(VirtualChipTest, IspModeFollowsOnlyTheExactKeysWithoutDataStage) {
  const struct {
    const char* name;
    std::uint8_t type, request;
    std::uint16_t value, index;
    std::uint32_t length;
    bool ok, isp_after;
  } steps[] = {
      {"enter, wrong wValue", 0x43, 0x84, 0x3B70, 0x9E04, 0, false, false},
      {"enter, wrong wIndex", 0x43, 0x84, 0x3B71, 0x9E05, 0, false, false},
      {"enter, exit key", 0x43, 0x84, 0x6D2A, 0xC85E, 0, false, false},
      {"enter, data stage", 0x43, 0x84, 0x3B71, 0x9E04, 1, false, false},
      {"enter, IN", 0xC3, 0x84, 0x3B71, 0x9E04, 0, false, false},
      {"enter", 0x43, 0x84, 0x3B71, 0x9E04, 0, true, true},
      {"enter again", 0x43, 0x84, 0x3B71, 0x9E04, 0, true, true},
      {"exit, entry key", 0x43, 0x85, 0x3B71, 0x9E04, 0, false, true},
      {"exit, swapped key", 0x43, 0x85, 0xC85E, 0x6D2A, 0, false, true},
      {"exit, data stage", 0x43, 0x85, 0x6D2A, 0xC85E, 1, false, true},
      {"exit", 0x43, 0x85, 0x6D2A, 0xC85E, 0, true, false},
      {"exit again", 0x43, 0x85, 0x6D2A, 0xC85E, 0, true, false},
  };
  EXPECT_FALSE(chip.InIspMode());
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    Bytes data(s.length, 0x00);
    EXPECT_EQ(Transfer(s.type, s.request, s.value, s.index, data), s.ok);
    EXPECT_EQ(chip.InIspMode(), s.isp_after);
  }
}

// The firmware hands the serial bus over only for the key followed by the bank 0x0D set-up:
// register 0x07 := 0x10 and register 0x01 := 0x03, in either order.
TEST_F(VirtualChipTest, FlashIsReachedOnlyAfterTheKeyAndTheWholeBankODSetUp) {
  const struct {
    const char* name;
    std::vector<const char*> steps;  // "key", "exit" or a register write "RR=VV"
    bool reachable;
  } cases[] = {
      {"nothing", {}, false},
      {"key alone", {"key"}, false},
      {"key, 07 only", {"key", "00=0D", "07=10"}, false},
      {"key, 01 only", {"key", "00=0D", "01=03"}, false},
      {"key and set-up", {"key", "00=0D", "07=10", "01=03"}, true},
      {"key, set-up in the other order", {"key", "00=0D", "01=03", "07=10"}, true},
      {"set-up around the key, as the Enter ISP button makes it",
       {"00=0D", "01=03", "key", "00=0D", "07=10", "01=03"},
       true},
      {"set-up before the key only", {"00=0D", "07=10", "01=03", "key"}, false},
      {"set-up in another bank", {"key", "00=0E", "07=10", "01=03"}, false},
      {"a wrong set-up value", {"key", "00=0D", "07=11", "01=03"}, false},
      {"set-up, then the exit key", {"key", "00=0D", "07=10", "01=03", "exit"}, false},
      {"set-up, then 07 cleared", {"key", "00=0D", "07=10", "01=03", "07=00"}, false},
      {"set-up, then the key again", {"key", "00=0D", "07=10", "01=03", "key"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExitIsp();
    Out(0x90, 0, 0x00, {0x0D});
    Out(0x90, 0, 0x07, {0x00});
    Out(0x90, 0, 0x01, {0x00});
    for (const std::string step : c.steps) {
      if (step == "key") {
        EnterIsp();
      } else if (step == "exit") {
        ExitIsp();
      } else {
        const auto reg = static_cast<std::uint16_t>(std::stoul(step.substr(0, 2), nullptr, 16));
        Out(0x90, 0, reg, {static_cast<std::uint8_t>(std::stoul(step.substr(3), nullptr, 16))});
      }
    }
    EXPECT_EQ(chip.FlashReachable(), c.reachable);
    chip.Flash().Fill(0xCC);
    EXPECT_TRUE(Out(0x80, 0, 1, {0x06}));  // accepted either way
    EXPECT_TRUE(Out(0x80, 0, 0, {0x02, 0x00, 0x00, 0x10}));
    EXPECT_TRUE(Out(0x80, 0, 1, {0x00}));
    clock.Advance(1000);
    EXPECT_EQ(chip.Flash().Peek(0x10), c.reachable ? 0x00 : 0xCC);
    EXPECT_TRUE(Out(0x81, 3, 1, {0x9F}));
    EXPECT_EQ(Ready(), c.reachable ? 1 : 0);
    // Nothing was read back from an unreachable flash: the fetch stalls.
    EXPECT_EQ(FetchWorks(3), c.reachable);
    if (c.reachable) {
      EXPECT_EQ(Fetch(3), (Bytes{0xC2, 0x20, 0x13}));
    }
  }
}

TEST_F(VirtualChipTest, PassThroughPiecesFormOneCommandUntilTheLastPiece) {
  EnterIspFully();
  chip.Flash().Fill(0xFF);
  Out(0x80, 0, 1, {0x06});
  Out(0x80, 0, 0, {0x02, 0x00, 0x01});  // opcode and part of the address
  Out(0x80, 0, 0, {0x00, 0x11});
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);  // chip-select still asserted
  Out(0x80, 0, 1, {0x22, 0x33});
  EXPECT_EQ(chip.Flash().PagePrograms(), 1u);
  clock.Advance(1000);
  EXPECT_EQ(chip.Flash().ReadRange(0x100, 4), (Bytes{0x11, 0x22, 0x33, 0xFF}));
  // A read command continues an open piece and closes it.
  Out(0x80, 0, 0, {0x03, 0x00, 0x01});
  Out(0x81, 2, 1, {0x01});
  EXPECT_EQ(Ready(), 1);
  EXPECT_EQ(Fetch(2), (Bytes{0x22, 0x33}));
  EXPECT_EQ(chip.LastReadBack(), (Bytes{0x22, 0x33}));
}

// 0x82 answers only what the last 0x81 read, and only once 0x83 has said it finished; older
// bytes in the buffer are never handed out.
TEST_F(VirtualChipTest, ReadBackIsFetchedOnlyWhenFinishedAndNoMoreThanWasRead) {
  EXPECT_FALSE(FetchWorks(1));  // nothing was ever read
  EnterIspFully();
  chip.SetSpiReadyDelayUs(500);
  chip.Flash().WriteRange(0x40, {0x11, 0x22, 0x33, 0x44});
  EXPECT_TRUE(Out(0x81, 4, 1, {0x03, 0x00, 0x00, 0x40}));
  EXPECT_FALSE(FetchWorks(4));  // not asked whether finished
  EXPECT_EQ(Ready(), 0);
  EXPECT_FALSE(FetchWorks(4));  // asked, but not finished yet
  clock.Advance(500);
  EXPECT_EQ(Ready(), 1);
  EXPECT_FALSE(FetchWorks(5));  // more than was read
  EXPECT_EQ(Fetch(4), (Bytes{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(Fetch(2), (Bytes{0x11, 0x22}));  // the same answer again, or part of it

  // A new read command makes the old answer unfetchable until it finishes in turn.
  EXPECT_TRUE(Out(0x81, 1, 1, {0x05}));
  EXPECT_FALSE(FetchWorks(1));
  clock.Advance(500);
  EXPECT_EQ(Ready(), 1);
  EXPECT_FALSE(FetchWorks(2));  // the buffer still holds 0x22 there, but it is not this answer
  EXPECT_EQ(Fetch(1), Bytes{0x00});

  // A refused read command changes nothing: the last answer stays fetchable.
  EXPECT_FALSE(Out(0x81, 3, 1, {0x9F, 0x00}));
  EXPECT_EQ(Fetch(1), Bytes{0x00});
  // Power loss clears it.
  chip.Unplug();
  chip.Replug();
  handle = platform.Open(kAudioPath);
  EnterIspFully();
  EXPECT_FALSE(FetchWorks(1));
}

TEST_F(VirtualChipTest, ReadyFollowsTheConfiguredDelayAnswerAndTheNeverReadyFault) {
  EnterIspFully();
  chip.SetSpiReadyDelayUs(500);
  chip.SetReadyAnswer(0x80);
  Out(0x81, 1, 1, {0x05});
  EXPECT_EQ(Ready(), 0);
  clock.Advance(499);
  EXPECT_EQ(Ready(), 0);
  clock.Advance(1);
  EXPECT_EQ(Ready(), 0x80);
  chip.SetNeverReady(true);
  clock.Advance(1'000'000);
  EXPECT_EQ(Ready(), 0);
  chip.SetNeverReady(false);
  EXPECT_EQ(Ready(), 0x80);
  chip.SetReadyAnswer(0);  // "finished" is never zero
  EXPECT_EQ(Ready(), 1);
}

TEST_F(VirtualChipTest, FailedTransfersChangeNothing) {
  chip.FailNextTransfers(2);
  EXPECT_FALSE(EnterIsp());
  EXPECT_FALSE(EnterIsp());
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_TRUE(EnterIsp());
  EXPECT_TRUE(chip.InIspMode());
  IspSetUp();

  chip.FailRequest(0x82);
  Bytes answer{0x5A};
  EXPECT_FALSE(Transfer(0xC3, 0x82, 0, 0, answer));
  EXPECT_EQ(answer, Bytes{0x5A});  // the host's buffer is left alone
  EXPECT_EQ(Ready(), 1);           // other requests still work
  chip.FailRequest(0x82, false);
  EXPECT_EQ(ReadId(), (Bytes{0xC2, 0x20, 0x13}));

  chip.FailRequest(0x90);
  EXPECT_FALSE(Out(0x90, 0, 0x00, {0x0E}));
  EXPECT_EQ(chip.Registers().bank(), 0x0D);
  EXPECT_EQ(chip.TransfersRefused(), 4u);
}

TEST_F(VirtualChipTest, FlippedBitsCorruptOneAnswerOrAll) {
  EnterIspFully();
  chip.FlipReadBits(0x01, VirtualChip::Flip::Once, 2);
  EXPECT_EQ(ReadId(), (Bytes{0xC2, 0x20, 0x12}));
  EXPECT_EQ(ReadId(), (Bytes{0xC2, 0x20, 0x13}));
  chip.FlipReadBits(0x80, VirtualChip::Flip::Always, 0);
  EXPECT_EQ(ReadId(), (Bytes{0x42, 0x20, 0x13}));
  EXPECT_EQ(ReadId(), (Bytes{0x42, 0x20, 0x13}));
  EXPECT_EQ(chip.LastReadBack(), (Bytes{0xC2, 0x20, 0x13}));  // the flash answered right
  chip.StopFlippingReadBits();
  EXPECT_EQ(ReadId(), (Bytes{0xC2, 0x20, 0x13}));
}

TEST_F(VirtualChipTest, UnplugAfterTransfersTakesTheChipOffTheBus) {
  chip.PlugInto(platform, kLoaderPath1d7a, Visibility::GenericOnly);
  EnterIspFully();
  chip.UnplugAfterTransfers(3);
  EXPECT_TRUE(EnterIsp());
  EXPECT_TRUE(Out(0x80, 0, 1, {0x06}));
  EXPECT_TRUE(Out(0x80, 0, 0, {0x02, 0x00, 0x00, 0x00}));  // chip-select left asserted
  EXPECT_TRUE(Present());
  EXPECT_FALSE(Out(0x80, 0, 1, {0x00}));
  EXPECT_FALSE(chip.InIspMode());  // power went with the plug
  EXPECT_EQ(chip.Flash().Status(), 0x00);
  EXPECT_FALSE(chip.Flash().Selected());
  EXPECT_EQ(chip.Flash().Peek(0), 0xCC);
  EXPECT_TRUE(chip.Unplugged());
  EXPECT_FALSE(Present());
  EXPECT_FALSE(platform.IsPlugged(kLoaderPath1d7a));
  EXPECT_EQ(platform.Open(kAudioPath), kInvalidHandle);

  chip.Replug();
  EXPECT_TRUE(Present());
  std::vector<std::string> loader;
  platform.EnumerateInterfaces(Backend::Generic, loader);
  EXPECT_EQ(loader, (std::vector<std::string>{kAudioPath, kLoaderPath1d7a}));
  handle = platform.Open(kAudioPath);
  EXPECT_TRUE(EnterIsp());
  EXPECT_FALSE(chip.FlashReachable());  // the set-up is gone with the power
}

TEST_F(VirtualChipTest, ProbeLatencyAndRegisterForwarding) {
  EXPECT_TRUE(platform.Probe(handle, Backend::Property));
  chip.SetProbeFails(true);
  EXPECT_FALSE(platform.Probe(handle, Backend::Property));

  chip.SetTransferLatencyUs(250);
  const std::uint64_t before = clock.NowUs();
  Out(0x90, 0, 0x00, {0x0D});
  Out(0x90, 0, 0x07, {0x10});
  EXPECT_EQ(clock.NowUs() - before, 500u);
  Bytes value{0x00};
  EXPECT_TRUE(Transfer(0xC3, 0x91, 0, 0x07, value));
  EXPECT_EQ(value, Bytes{0x10});
  EXPECT_EQ(chip.Registers().Peek(0x0D, 0x07), 0x10);
}

}  // namespace
}  // namespace velmora::sim
