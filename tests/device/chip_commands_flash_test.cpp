// The flash and ISP commands of the chip command set against the virtual chip: the requests they
// send, the polls and pauses they make, and what lands in the flash.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chip_commands.h"
#include "transcript.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::TranscriptEvent;
using Kind = sim::TranscriptEvent::Kind;

constexpr std::uint8_t kFill = 0xCC;

sim::FlashConfig TestFlash(std::uint8_t type = 0x20, std::uint8_t code = 0x13) {
  sim::FlashConfig config;
  config.id = {0xC2, type, code};
  config.fill = kFill;
  return config;
}

Bytes Pattern(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
  return bytes;
}

class FlashCommandTest : public ::testing::Test {
 protected:
  explicit FlashCommandTest(sim::FlashConfig flash = TestFlash()) : chip(clock, flash) {
    chip.PlugInto(platform);
    usb.SetBackend(VelmoraUsb::kPropertyBackend);
    usb.SetMatchText("vid_6ccf&pid_6012");
    usb.FindDevice();
    usb.Open();
    transcript.Clear();
  }

  // Polls the status register until the write cycle is over, pausing 10 ms between polls.
  bool WaitWhileBusy(int polls = 400) {
    for (int i = 0; i < polls; ++i) {
      if ((FlashReadStatus(link) & 0x01) == 0) return true;
      clock.SleepMs(10);
    }
    return false;
  }

  static void ExpectTransfer(const TranscriptEvent& e, std::uint8_t type, std::uint8_t request,
                             std::uint16_t value, std::uint16_t index, std::uint32_t length) {
    EXPECT_EQ(e.setup.request_type, type);
    EXPECT_EQ(e.setup.request, request);
    EXPECT_EQ(e.setup.value, value);
    EXPECT_EQ(e.setup.index, index);
    EXPECT_EQ(e.length, length);
  }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  sim::VirtualChip chip;
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
};

TEST_F(FlashCommandTest, IspEnterAndExitSendTheKeyWithoutDataThenTheirRegisterWrites) {
  EXPECT_TRUE(IspEnter(link));
  EXPECT_TRUE(chip.InIspMode());
  EXPECT_TRUE(IspExit(link));
  EXPECT_FALSE(chip.InIspMode());

  const auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 7u);
  ExpectTransfer(t[0], 0x43, 0x84, 0x3B71, 0x9E04, 0);
  const struct {
    std::uint16_t index;
    std::uint8_t value;
  } enter_writes[] = {{0x00, 0x0D}, {0x07, 0x10}, {0x01, 0x03}},
    exit_writes[] = {{0x00, 0x0D}, {0x07, 0x00}};
  for (int i = 0; i < 3; ++i) {
    ExpectTransfer(t[1 + i], 0x43, 0x90, 0, enter_writes[i].index, 1);
    EXPECT_EQ(t[1 + i].data, Bytes{enter_writes[i].value});
  }
  ExpectTransfer(t[4], 0x43, 0x85, 0x6D2A, 0xC85E, 0);
  for (int i = 0; i < 2; ++i) {
    ExpectTransfer(t[5 + i], 0x43, 0x90, 0, exit_writes[i].index, 1);
    EXPECT_EQ(t[5 + i].data, Bytes{exit_writes[i].value});
  }
  EXPECT_EQ(chip.Registers().Peek(0x0D, 0x01), 0x03);
  EXPECT_EQ(chip.Registers().Peek(0x0D, 0x07), 0x00);
}

TEST_F(FlashCommandTest, IspRegisterWritesAreMadeEvenWhenTheKeyRequestFails) {
  chip.FailRequest(0x84);
  chip.FailRequest(0x85);
  EXPECT_FALSE(IspEnter(link));
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_EQ(chip.Registers().Peek(0x0D, 0x07), 0x10);
  EXPECT_FALSE(IspExit(link));
  EXPECT_EQ(chip.Registers().Peek(0x0D, 0x07), 0x00);
  EXPECT_EQ(transcript.Transfers().size(), 7u);
}

TEST_F(FlashCommandTest, PageProgramSendsAddressPieceThenDataPiece) {
  IspEnter(link);
  transcript.Clear();
  FlashWriteEnable(link);
  const Bytes data = Pattern(256, 0x31);
  EXPECT_TRUE(FlashPageProgram(link, 0x012300, 256, data.data()));

  const auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 3u);
  ExpectTransfer(t[0], 0x43, 0x80, 0, 1, 1);
  EXPECT_EQ(t[0].data, Bytes{0x06});
  ExpectTransfer(t[1], 0x43, 0x80, 0, 0, 4);
  EXPECT_EQ(t[1].data, (Bytes{0x02, 0x01, 0x23, 0x00}));
  ExpectTransfer(t[2], 0x43, 0x80, 0, 1, 256);
  EXPECT_EQ(t[2].data, data);
  Bytes expected(256);
  for (std::size_t i = 0; i < 256; ++i) expected[i] = data[i] & kFill;
  EXPECT_EQ(chip.Flash().ReadRange(0x012300, 256), expected);
}

TEST_F(FlashCommandTest, ReadSendsCountAndAddressPollsReadyThenFetches) {
  IspEnter(link);
  const Bytes stored = Pattern(64, 0x07);
  chip.Flash().WriteRange(0x03FFC0, stored);
  transcript.Clear();
  Bytes got(64, 0x00);
  EXPECT_TRUE(FlashRead(link, 0x03FFC0, 64, got.data()));
  EXPECT_EQ(got, stored);

  const auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 3u);
  ExpectTransfer(t[0], 0x43, 0x81, 64, 1, 4);
  EXPECT_EQ(t[0].data, (Bytes{0x03, 0x03, 0xFF, 0xC0}));
  ExpectTransfer(t[1], 0xC3, 0x83, 0, 0, 1);
  ExpectTransfer(t[2], 0xC3, 0x82, 0, 0, 64);
  EXPECT_EQ(transcript.Count(Kind::Pause), 0u);
}

TEST_F(FlashCommandTest, ChipThatNeverGetsReadyFailsEveryReadAfterItsPolls) {
  IspEnter(link);
  chip.SetNeverReady(true);
  transcript.Clear();

  Bytes got(64, 0x5A);
  EXPECT_FALSE(FlashRead(link, 0, 64, got.data()));
  EXPECT_EQ(got, Bytes(64, 0x5A));
  auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 101u);  // the read command and 100 polls, no fetch
  for (std::size_t i = 1; i < t.size(); ++i) EXPECT_EQ(t[i].setup.request, 0x83);
  EXPECT_EQ(transcript.Count(Kind::Pause), 100u);
  EXPECT_EQ(transcript.TotalPauseMs(), 100u);
  // Each pause follows a not-ready answer.
  const auto& events = transcript.Events();
  for (std::size_t i = 1; i < events.size(); ++i) {
    if (events[i].kind == Kind::Pause) {
      EXPECT_EQ(events[i - 1].setup.request, 0x83);
    }
  }

  transcript.Clear();
  EXPECT_EQ(FlashReadStatus(link), 0xFF);
  EXPECT_EQ(transcript.Transfers().size(), 11u);  // command and 10 polls

  transcript.Clear();
  ChipIdBytes id = {0x01, 0x02, 0x03};
  EXPECT_FALSE(FlashReadId(link, id));
  EXPECT_EQ(id, (ChipIdBytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(transcript.Transfers().size(), 101u);
  EXPECT_EQ(transcript.Count(Kind::Pause), 0u);  // the id poll is a tight loop
}

// A read command that fails leaves the read-back buffer with the answer before it, here flash
// bytes that look like another part's identifier and an idle status: neither may be taken.
TEST_F(FlashCommandTest, AReadCommandThatFailsEndsTheIdAndStatusReadsWithNothingMoreSent) {
  IspEnter(link);
  chip.Flash().WriteRange(0x1000, {0xEF, 0x40, 0x18, 0x00});
  Bytes chunk(64);
  ASSERT_TRUE(FlashRead(link, 0x1000, 64, chunk.data()));
  FlashWriteEnable(link);
  FlashChipErase(link);  // busy for a while: the true status has WIP set

  transcript.Clear();
  ChipIdBytes id = {0x11, 0x22, 0x33};
  chip.FailNextTransfers(1);
  EXPECT_FALSE(FlashReadId(link, id));
  EXPECT_EQ(id, (ChipIdBytes{0x11, 0x22, 0x33}));
  chip.FailNextTransfers(1);
  EXPECT_EQ(FlashReadStatus(link), 0xFF);
  const auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].data, Bytes{0x9F});
  EXPECT_EQ(t[1].data, Bytes{0x05});
  EXPECT_FALSE(t[0].ok || t[1].ok);
}

// 0x83 promises only a nonzero byte for "finished": every read and poll takes any of them.
TEST_F(FlashCommandTest, AnyNonzeroReadyAnswerMeansFinished) {
  IspEnter(link);
  const Bytes stored = Pattern(64, 0x21);
  chip.Flash().WriteRange(0x2040, stored);
  for (const std::uint8_t answer : {0x01, 0x02, 0x80, 0xFF}) {
    SCOPED_TRACE(int{answer});
    chip.SetReadyAnswer(answer);
    transcript.Clear();
    EXPECT_TRUE(SpiReady(link));
    Bytes got(64, 0x00);
    EXPECT_TRUE(FlashRead(link, 0x2040, 64, got.data()));
    EXPECT_EQ(got, stored);
    ChipIdBytes id{};
    EXPECT_TRUE(FlashReadId(link, id));
    EXPECT_EQ(id, (ChipIdBytes{0xC2, 0x20, 0x13}));
    FlashWriteEnable(link);
    EXPECT_EQ(FlashReadStatus(link), 0x02);
    FlashWriteDisable(link);
    // Each read polled once: finished at the first answer.
    EXPECT_EQ(transcript.Transfers().size(), 1u + 3u + 3u + 1u + 3u + 1u);
  }
}

// The address goes out high byte first; addresses whose three bytes differ catch a swap.
TEST_F(FlashCommandTest, SectorEraseSendsTheAddressHighByteFirstAndErasesThatSector) {
  IspEnter(link);
  const struct {
    std::uint32_t address, sector;
  } cases[] = {{0x05C123, 0x05C000}, {0x012000, 0x012000}, {0x07F3A1, 0x07F000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    chip.Flash().Fill(kFill);
    chip.Flash().ResetCounters();
    transcript.Clear();
    FlashWriteEnable(link);
    EXPECT_TRUE(FlashSectorErase(link, c.address));
    ASSERT_TRUE(WaitWhileBusy());
    const auto t = transcript.Transfers();
    ExpectTransfer(t[1], 0x43, 0x80, 0, 1, 4);
    EXPECT_EQ(t[1].data, (Bytes{0x20, static_cast<std::uint8_t>(c.address >> 16),
                                static_cast<std::uint8_t>(c.address >> 8),
                                static_cast<std::uint8_t>(c.address)}));
    EXPECT_EQ(chip.Flash().SectorErases(), 1u);
    EXPECT_EQ(chip.Flash().ReadRange(c.sector, 4096), Bytes(4096, 0xFF));
    EXPECT_EQ(chip.Flash().Peek(c.sector - 1), kFill);
    EXPECT_EQ(chip.Flash().Peek((c.sector + 4096) & 0x7FFFF), kFill);
  }
}

TEST_F(FlashCommandTest, ChipEraseSendsC7AloneAndErasesTheWholePart) {
  IspEnter(link);
  FlashWriteEnable(link);
  transcript.Clear();
  EXPECT_TRUE(FlashChipErase(link));
  const auto t = transcript.Transfers();
  ASSERT_EQ(t.size(), 1u);
  ExpectTransfer(t[0], 0x43, 0x80, 0, 1, 1);
  EXPECT_EQ(t[0].data, Bytes{0xC7});
  ASSERT_TRUE(WaitWhileBusy());
  EXPECT_EQ(chip.Flash().ChipErases(), 1u);
  EXPECT_EQ(chip.Flash().ReadRange(0, chip.Flash().Size()), Bytes(chip.Flash().Size(), 0xFF));
}

// The result is the data request's: the header's alone does not make a page program. Without the
// header, the data must not go out at all: it would reach the flash as a command of its own, and
// data that begins with 0x02 would program a stray page at an address taken from the data.
TEST_F(FlashCommandTest, PageProgramAnswersForItsDataRequestAndSendsNoDataWithoutItsHeader) {
  IspEnter(link);
  const Bytes data = {0x02, 0x00, 0x10, 0x00, 0xA5, 0x5A, 0x0F, 0xF0};
  const struct {
    const char* name;
    int failing;  // transfer of the page program that fails: 0 header, 1 data, -1 none
    bool result;
    std::size_t sent;
    bool programmed;
  } cases[] = {
      {"both go through", -1, true, 2, true},
      {"the data request fails", 1, false, 2, false},
      {"the header fails", 0, false, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    chip.Flash().Fill(kFill);
    chip.Flash().ResetCounters();
    FlashWriteEnable(link);
    transcript.Clear();
    const std::uint32_t first = chip.TransfersAnswered() + chip.TransfersRefused();
    chip.SetTransferHook([&](std::uint32_t index) {
      if (c.failing >= 0 && index == first + static_cast<std::uint32_t>(c.failing)) {
        chip.FailNextTransfers(1);
      }
    });
    EXPECT_EQ(FlashPageProgram(link, 0x000300, 8, data.data()), c.result);
    chip.SetTransferHook(nullptr);
    EXPECT_EQ(transcript.Transfers().size(), c.sent);
    // Looked at before any further flash command: after a lost data piece chip-select is still
    // asserted, and the next command's bytes would land in the open page program.
    EXPECT_EQ(chip.Flash().PagePrograms(), c.programmed ? 1u : 0u);
    Bytes expected(8);
    for (std::size_t i = 0; i < 8; ++i) expected[i] = c.programmed ? (data[i] & kFill) : kFill;
    EXPECT_EQ(chip.Flash().ReadRange(0x000300, 8), expected);
    EXPECT_EQ(chip.Flash().ReadRange(0x001000, 4), Bytes(4, kFill));  // no stray page
    IspExit(link);  // releases chip-select; a page program without data is dropped
    IspEnter(link);
    ASSERT_TRUE(WaitWhileBusy());
    FlashWriteDisable(link);
  }
}

TEST_F(FlashCommandTest, CountsOutOfRangeAreRefusedWithNothingSent) {
  IspEnter(link);
  transcript.Clear();
  Bytes buffer(300, 0x00);
  const struct {
    const char* name;
    bool (*call)(ChipLink&, std::uint8_t*);
  } cases[] = {
      {"read 0", [](ChipLink& l, std::uint8_t* b) { return FlashRead(l, 0, 0, b); }},
      {"read 256", [](ChipLink& l, std::uint8_t* b) { return FlashRead(l, 0, 256, b); }},
      {"program 0", [](ChipLink& l, std::uint8_t* b) { return FlashPageProgram(l, 0, 0, b); }},
      {"program 257", [](ChipLink& l, std::uint8_t* b) { return FlashPageProgram(l, 0, 257, b); }},
      {"spi write 4", [](ChipLink& l, std::uint8_t* b) { return SpiWrite(l, 0x01, 4, b); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.call(link, buffer.data()));
  }
  EXPECT_TRUE(transcript.Transfers().empty());
  // The limits themselves are allowed.
  EXPECT_TRUE(FlashRead(link, 0, 255, buffer.data()));
  EXPECT_TRUE(FlashPageProgram(link, 0, 256, buffer.data()));
}

// Erase, blank check, program and verify as the flash engine runs them, on both page sizes.
struct RoundTripCase {
  const char* name;
  std::uint8_t type, code;
  std::uint32_t page;
};

class FlashRoundTripTest : public FlashCommandTest,
                           public ::testing::WithParamInterface<RoundTripCase> {
 protected:
  FlashRoundTripTest() : FlashCommandTest(TestFlash(GetParam().type, GetParam().code)) {}
};

TEST_P(FlashRoundTripTest, EraseBlankCheckProgramAndVerify) {
  const std::uint32_t page = GetParam().page;
  const std::uint32_t length = 4096 + 100;  // ends inside a page
  const Bytes image = Pattern(length, 0x5C);

  ASSERT_TRUE(IspEnter(link));
  ChipIdBytes id{};
  ASSERT_TRUE(FlashReadId(link, id));
  EXPECT_EQ(id[1], GetParam().type);
  FlashWriteEnable(link);
  FlashWriteStatus(link, 0x00);
  ASSERT_TRUE(WaitWhileBusy());
  FlashWriteEnable(link);
  FlashChipErase(link);
  ASSERT_TRUE(WaitWhileBusy());
  // The chip erase took the part's time.
  EXPECT_GE(transcript.TotalPauseMs(), chip.Flash().Times().chip_erase_us / 1000);
  EXPECT_GE(transcript.TotalPauseMs(), 1000u);

  Bytes chunk(64);
  for (std::uint32_t at = 0; at < length; at += 64) {
    ASSERT_TRUE(FlashRead(link, at, 64, chunk.data()));
    ASSERT_EQ(chunk, Bytes(64, 0xFF)) << "blank at " << at;
  }
  for (std::uint32_t at = 0; at < length; at += page) {
    const std::uint32_t count = std::min(page, length - at);
    FlashWriteEnable(link);
    ASSERT_TRUE(FlashPageProgram(link, at, count, image.data() + at));
    ASSERT_TRUE(SpiReady(link));
    ASSERT_TRUE(WaitWhileBusy());
  }
  Bytes back(length);
  for (std::uint32_t at = 0; at < length; at += 64) {
    ASSERT_TRUE(FlashRead(link, at, std::min<std::uint32_t>(64, length - at), back.data() + at));
  }
  EXPECT_EQ(back, image);
  EXPECT_EQ(chip.Flash().PagePrograms(), (length + page - 1) / page);
  EXPECT_EQ(chip.Flash().Peek(length), 0xFF);
  EXPECT_TRUE(IspExit(link));
}

INSTANTIATE_TEST_SUITE_P(Parts, FlashRoundTripTest,
                         ::testing::Values(RoundTripCase{"C22013", 0x20, 0x13, 256},
                                           RoundTripCase{"C22211", 0x22, 0x11, 32}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCommandTest, UnplugMidSequenceFailsTheRestAndSearchesMissTheChip) {
  IspEnter(link);
  chip.UnplugAfterTransfers(2);
  const Bytes data = Pattern(16, 0x09);
  EXPECT_TRUE(FlashWriteEnable(link));
  EXPECT_FALSE(FlashPageProgram(link, 0, 16, data.data()));  // address piece ok, data piece lost
  EXPECT_EQ(FlashReadStatus(link), 0xFF);
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);
  EXPECT_FALSE(usb.CheckPresence());
  usb.Close();
  EXPECT_FALSE(usb.Open());
}

}  // namespace
}  // namespace velmora
