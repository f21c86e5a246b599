// The flash engine against the strict virtual chip: erase, status writes, the chunk-retry
// passes, page programming, read-back and the atomic file writer.
#include "flash_engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "atomic_file.h"
#include "chip_under_test.h"
#include "flash_texts.h"

namespace velmora::testing {
namespace {

std::vector<std::string> WordsBetween(const std::vector<std::string>& trace, std::size_t from,
                                      std::size_t count) {
  return {trace.begin() + from, trace.begin() + from + count};
}

// The identifier of the rig's part (512 KiB, 256-byte pages).
constexpr ChipIdBytes kTestPart{0xC2, 0x20, 0x13};

class FlashEngineTest : public ChipUnderTest {};

// ---- Status write ----

TEST_F(FlashEngineTest, StatusWriteEnablesWritesAndPollsUntilIdle) {
  OpenInIspMode();
  WriteStatusAndWait(link, 0x9C);
  // The 10 ms status cycle: one busy read, one pause, one idle read.
  const std::vector<std::string> expected = {"80/06", "80/01", "81/05", "83", "82",
                                             "p10",   "81/05", "83",    "82"};
  EXPECT_EQ(Trace(transcript), expected);
  EXPECT_EQ(chip.Flash().Status() & chip.Flash().WritableStatusBits(),
            0x9C & chip.Flash().WritableStatusBits());
}

// ---- Erase ----

TEST_F(FlashEngineTest, ChipEraseDotsCreepEveryTwentyPollsAndWrapAfterTwoHundred) {
  chip.Flash().SetTimes({.page_program_us = 1000,
                         .sector_erase_us = 60000,
                         .chip_erase_us = 2500000,
                         .write_status_us = 10000});
  EnterIspMode();

  ASSERT_TRUE(EraseFlash(ctx, {RangeChoice::All}, kTestPart));
  ASSERT_GE(progress.process.size(), 202u);
  EXPECT_EQ(progress.process[0], "Flash Erase All ");
  const std::size_t polls = progress.process.size() - 1;
  for (std::size_t n = 0; n < polls; ++n) {
    ASSERT_EQ(progress.process[1 + n], "Flash Erase All " + std::string((n / 20) % 10, '.'))
        << "poll " << n;
  }
  EXPECT_EQ(progress.process[1 + 19], "Flash Erase All ");
  EXPECT_EQ(progress.process[1 + 20], "Flash Erase All .");
  EXPECT_EQ(progress.process[1 + 199], "Flash Erase All .........");
  EXPECT_EQ(progress.process[1 + 200], "Flash Erase All ");
  // Busy while erasing (WIP with the latch), clear at the end; one pump per poll.
  EXPECT_EQ(progress.status.front(), "Status Register: 0x03");
  EXPECT_EQ(progress.status.back(), "Status Register: 0x00");
  EXPECT_EQ(progress.pumps, static_cast<int>(polls));
  // 10 ms after the erase command and after every busy poll; the last poll saw it idle.
  EXPECT_EQ(transcript.TotalPauseMs(), 10u * polls);
  EXPECT_GE(transcript.TotalPauseMs(), 2500u);
  EXPECT_EQ(chip.Flash().ChipErases(), 1u);
  EXPECT_EQ(chip.Flash().Peek(0x12345), 0xFF);
  const auto trace = Trace(transcript);
  // The part reads idle before the erase is given.
  EXPECT_EQ(WordsBetween(trace, 0, 7),
            (std::vector<std::string>{"open", "81/05", "83", "82", "80/06", "80/C7", "p10"}));
  EXPECT_EQ(trace.back(), "close");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(FlashEngineTest, SectorEraseCoversRangeInSteps) {
  struct Case {
    std::uint32_t start, size;
    std::vector<std::uint32_t> sectors;
  } cases[] = {
      {0x8000, 0x8000, {0x8000, 0x9000, 0xA000, 0xB000, 0xC000, 0xD000, 0xE000, 0xF000}},
      {0x8000, 0, {}},
      {0x13000, 0x2000, {0x13000, 0x14000}},  // high and low address bytes differ
      {0x0000, 0x2000, {0x0000, 0x1000}},
      {0x7F000, 0x1000, {0x7F000}},  // the last sector of the 512 KiB part
  };
  for (const Case& c : cases) {
    ChipRig rig;
    rig.EnterIspMode();
    ASSERT_TRUE(EraseFlash(rig.ctx, {RangeChoice::AssignRange, c.start, c.size}, kTestPart));
    SCOPED_TRACE(c.start);
    const auto erases = rig.Requests(0x80, 0x20);
    ASSERT_EQ(erases.size(), c.sectors.size());
    std::vector<std::string> texts = {"Flash Sector Erase"};
    for (std::size_t i = 0; i < erases.size(); ++i) {
      EXPECT_EQ(AddressOf(erases[i]), c.sectors[i]);
      texts.push_back(texts::SectorEraseProgress(c.sectors[i]));
    }
    // Every sector erase follows its own write enable.
    EXPECT_EQ(rig.Requests(0x80, 0x06).size(), c.sectors.size());
    auto shown = rig.progress.process;
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    EXPECT_EQ(shown, texts);
    if (c.sectors.empty()) {
      EXPECT_TRUE(rig.transcript.Transfers().empty());
    }
  }
  // Exactly the sectors of the range are erased: 0x8000..0xFFFF, and 0x13000..0x14FFF (with
  // its address bytes swapped it would be 0x3000 and 0x4000).
  const struct { std::uint32_t start, size; } erased[] = {{0x8000, 0x8000}, {0x13000, 0x2000}};
  for (const auto& e : erased) {
    SCOPED_TRACE(e.start);
    ChipRig rig;
    rig.EnterIspMode();
    EraseFlash(rig.ctx, {RangeChoice::AssignRange, e.start, e.size}, kTestPart);
    const auto& flash = rig.chip.Flash();
    EXPECT_EQ(flash.ReadRange(0, e.start), std::vector<std::uint8_t>(e.start, 0xCC));
    EXPECT_EQ(flash.ReadRange(e.start, e.size), std::vector<std::uint8_t>(e.size, 0xFF));
    EXPECT_EQ(flash.Peek(e.start + e.size), 0xCC);
    EXPECT_EQ(flash.SectorErases(), e.size / 4096);
  }
}

TEST_F(FlashEngineTest, EraseThatNeverFinishesFails) {
  struct Case {
    const char* name;
    FlashRange range;
    std::function<void(ChipRig&)> arrange;
    std::uint32_t sector_erases_sent;
  } cases[] = {
      {"chip erase stuck busy",
       {RangeChoice::All},
       [](ChipRig& r) { r.chip.SetFlashStuckBusy(true); },
       0},
      {"no device: status reads 0xFF", {RangeChoice::All}, [](ChipRig& r) { r.chip.Unplug(); }, 0},
      {"middle sector of three stays busy",
       {RangeChoice::AssignRange, 0x8000, 0x3000},
       [](ChipRig& r) {
         // The whole of 0x9000's polling sees the flash stuck; 0xA000 erases normally.
         auto stuck_polls = std::make_shared<int>(0);
         r.progress.on_process_text = [&r, stuck_polls](const std::string& text) {
           if (text != texts::SectorEraseProgress(0x9000)) return;
           if (++*stuck_polls == 1) r.chip.SetFlashStuckBusy(true);
           if (*stuck_polls == 1000) r.chip.SetFlashStuckBusy(false);
         };
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    rig.EnterIspMode();
    c.arrange(rig);
    EXPECT_FALSE(EraseFlash(rig.ctx, c.range, kTestPart));
    EXPECT_EQ(rig.progress.process.back(), "Erase Flash Fail");
    EXPECT_EQ(rig.Requests(0x80, 0x20).size(), c.sector_erases_sent);
    EXPECT_EQ(rig.platform.OpenHandleCount(), 0u);
  }
  // The stuck middle sector ends the erase: the sector after it is not given to the part.
  ChipRig rig;
  rig.EnterIspMode();
  cases[2].arrange(rig);
  EraseFlash(rig.ctx, cases[2].range, kTestPart);
  EXPECT_EQ(rig.chip.Flash().Peek(0x8000), 0xFF);
  EXPECT_EQ(rig.chip.Flash().Peek(0xA000), 0xCC);
}

TEST_F(FlashEngineTest, ChipEraseTimeoutPollsAThousandTimes) {
  EnterIspMode();
  chip.Flash().SetTimes({.chip_erase_us = 3600000000});  // an hour
  EXPECT_FALSE(EraseFlash(ctx, {RangeChoice::All}, kTestPart));
  EXPECT_EQ(progress.process.back(), "Erase Flash Fail");
  // One read finds the part idle before the erase, then the 1000 polls.
  EXPECT_EQ(Requests(0x81, 0x05).size(), 1u + 1000u);
  EXPECT_EQ(transcript.TotalPauseMs(), 10u + 1000u * 10u);
  EXPECT_EQ(progress.pumps, 1000);
}

// ---- Blank check and verify: the chunk-retry scheme ----

TEST_F(FlashEngineTest, ChunkRetriesClearOnACleanReadAndGiveUpOnTheThird) {
  struct Case {
    const char* name;
    std::function<void(sim::VirtualChip&)> fault;
    bool ok;
    std::size_t reads;  // 0x81 requests sent for 256 bytes
    std::size_t pumps;  // one per chunk that was read
    const char* failure;
  } cases[] = {
      {"clean", [](sim::VirtualChip&) {}, true, 4, 4, nullptr},
      {"one failed transfer", [](sim::VirtualChip& c) { c.FailNextTransfers(1); }, true, 5, 4,
       nullptr},
      {"failed transfer, wrong byte, clean",
       [](sim::VirtualChip& c) {
         c.FailNextTransfers(1);
         c.FlipReadBits(0x01, sim::VirtualChip::Flip::Once, 0);
       },
       true, 6, 5, nullptr},
      {"three unreadable attempts", [](sim::VirtualChip& c) { c.FailRequest(0x81); }, false, 3, 0,
       "Blanking Fail at 0x000000"},
      {"three reads wrong at offset 9",
       [](sim::VirtualChip& c) { c.FlipReadBits(0x10, sim::VirtualChip::Flip::Always, 9); }, false,
       3, 3, "Blanking Fail at 0x000009"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    rig.chip.Flash().Fill(0xFF);
    rig.OpenInIspMode();
    c.fault(rig.chip);
    EXPECT_EQ(BlankCheckRange(rig.ctx, 0, 256), c.ok);
    EXPECT_EQ(rig.Requests(0x81, 0x03).size(), c.reads);
    EXPECT_EQ(rig.progress.pumps, static_cast<int>(c.pumps));
    if (c.failure) {
      ASSERT_FALSE(rig.progress.process.empty());
      EXPECT_EQ(rig.progress.process.back(), c.failure);
    } else {
      EXPECT_TRUE(rig.progress.process.empty());
      EXPECT_EQ(rig.progress.address.back(), "Blanking Addr: 0x0000C0");
    }
  }
}

TEST_F(FlashEngineTest, OnlyBytesBelowTheEndAreExamined) {
  const ProgramImage image = RandomImage(100);
  struct Case {
    const char* name;
    bool verify;
    std::function<void(sim::SpiFlashModel&)> flash;
    bool ok;
    const char* failure;
  } cases[] = {
      {"blank: junk after the end", false,
       [](sim::SpiFlashModel& f) {
         f.Fill(0xFF);
         f.WriteRange(100, std::vector<std::uint8_t>(28, 0x00));
       },
       true, nullptr},
      {"blank: last byte written", false,
       [](sim::SpiFlashModel& f) {
         f.Fill(0xFF);
         f.WriteRange(99, {0x7F});
       },
       false, "Blanking Fail at 0x000063"},
      {"verify: junk after the end", true,
       [&](sim::SpiFlashModel& f) { f.WriteRange(0, ImageBytes(image, 0, 100)); }, true, nullptr},
      {"verify: last byte differs", true,
       [&](sim::SpiFlashModel& f) {
         auto bytes = ImageBytes(image, 0, 100);
         bytes[99] ^= 0x40;
         f.WriteRange(0, bytes);
       },
       false, "Verifying Fail at 0x000063"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    c.flash(rig.chip.Flash());
    rig.OpenInIspMode();
    const bool ok =
        c.verify ? VerifyRange(rig.ctx, image, 0, 0, 100) : BlankCheckRange(rig.ctx, 0, 100);
    EXPECT_EQ(ok, c.ok);
    if (c.failure) {
      EXPECT_EQ(rig.progress.process.back(), c.failure);
    }
    if (ok) {
      // Two whole chunks were read, the second one past the end.
      const auto reads = rig.Requests(0x81, 0x03);
      ASSERT_EQ(reads.size(), 2u);
      EXPECT_EQ(AddressOf(reads[1]), 0x40u);
      EXPECT_EQ(reads[1].setup.value, 64);
    }
  }
}

TEST_F(FlashEngineTest, VerifyFailureNamesTheWrongByteOfTheFailingChunk) {
  const ProgramImage image = RandomImage(256);
  chip.Flash().WriteRange(0, ImageBytes(image, 0, 256));
  OpenInIspMode();
  // The first chunk reads clean; from then on byte 5 of every answer is off.
  progress.on_pump = [&](int pump) {
    if (pump == 1) chip.FlipReadBits(0x20, sim::VirtualChip::Flip::Always, 5);
  };
  EXPECT_FALSE(VerifyRange(ctx, image, 0, 0, 256));
  EXPECT_EQ(progress.process.back(), "Verifying Fail at 0x000045");
  const std::vector<std::string> addresses = {
      "Verifying Addr: 0x000000", "Verifying Addr: 0x000040", "Verifying Addr: 0x000040",
      "Verifying Addr: 0x000040"};
  EXPECT_EQ(progress.address, addresses);
}

TEST_F(FlashEngineTest, VerifyComparesAgainstTheImageAtItsBase) {
  const ProgramImage image = RandomImage(200);
  chip.Flash().WriteRange(0x8000, ImageBytes(image, 0, 200));
  OpenInIspMode();
  EXPECT_TRUE(VerifyRange(ctx, image, 0x8000, 0x8000, 0x8000 + 200));
  EXPECT_FALSE(VerifyRange(ctx, image, 0, 0x8000, 0x8000 + 200));
}

// ---- Programming ----

TEST_F(FlashEngineTest, ProgramSkipsErasedPagesAndSendsTheLastPageWhole) {
  ProgramImage image = RandomImage(3 * 256 + 10);
  std::fill(image.bytes.begin() + 256, image.bytes.begin() + 512, 0xFF);
  chip.Flash().Fill(0xFF);
  OpenInIspMode();

  ASSERT_TRUE(ProgramRange(ctx, image, 0, 256, 0, image.length));
  const auto headers = Requests(0x80, 0x02);
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(AddressOf(headers[0]), 0x000u);
  EXPECT_EQ(AddressOf(headers[1]), 0x200u);
  EXPECT_EQ(AddressOf(headers[2]), 0x300u);
  std::vector<std::vector<std::uint8_t>> data;
  for (const auto& e : transcript.Transfers()) {
    if (e.setup.request == 0x80 && e.setup.index == 1 && e.data.size() > 3) data.push_back(e.data);
  }
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[2], ImageBytes(image, 0x300, 256));  // 10 image bytes and 246 of 0xFF fill
  EXPECT_EQ(chip.Flash().ReadRange(0, 1024), ImageBytes(image, 0, 1024));
  EXPECT_EQ(progress.address, (std::vector<std::string>{"0x000000", "0x000200", "0x000300"}));

  // Each page: idle check, write enable, address and pump, header, data, 1 ms, ready poll.
  const std::vector<std::string> page = {
      "81/05", "83", "82", "80/06", "pump", "80/02~", "80/" + texts::Hex(image.bytes[0], 2),
      "p1",    "83"};
  EXPECT_EQ(WordsBetween(Trace(transcript), 0, page.size()), page);

  // Verify still expects 0xFF in the skipped page: an unerased page there fails it.
  progress.process.clear();
  EXPECT_TRUE(VerifyRange(ctx, image, 0, 0, image.length));
  chip.Flash().WriteRange(0x100, {0xCC});
  EXPECT_FALSE(VerifyRange(ctx, image, 0, 0, image.length));
  EXPECT_EQ(progress.process.back(), "Verifying Fail at 0x000100");
}

TEST_F(FlashEngineTest, ProgramGivesUpWhenTheFlashStaysBusyBeforeAPage) {
  const ProgramImage image = RandomImage(512);
  chip.Flash().Fill(0xFF);
  OpenInIspMode();
  // From the first page's pump on the flash never finishes anything.
  progress.on_pump = [&](int pump) {
    if (pump == 1) chip.SetFlashStuckBusy(true);
  };
  EXPECT_FALSE(ProgramRange(ctx, image, 0, 256, 0, image.length));
  EXPECT_EQ(progress.address.back(), "0x000100");  // the page that waited in vain
  EXPECT_EQ(progress.process, std::vector<std::string>{"Programming Fail at 0x000100"});
  EXPECT_EQ(Requests(0x80, 0x02).size(), 1u);
  // 101 status reads before the second page, each busy one followed by 1 ms.
  EXPECT_EQ(Requests(0x81, 0x05).size(), 1u + 101u);
}

// The single buttons: start text, open, the pass over the image's extent, success text, close.
TEST_F(FlashEngineTest, ButtonsOnAnEmptyImageSendNothingAndSucceed) {
  struct Case {
    RangeOperation operation;
    FlashRange range;
    std::vector<std::string> texts;
  } cases[] = {
      {RangeOperation::BlankCheck,
       {RangeChoice::All},
       {"Start Blanking Check", "Blanking Success"}},
      {RangeOperation::Program,
       {RangeChoice::AssignRange, 0x8000, 0x8000},
       {"Start Programming...", "Programming Success"}},
      {RangeOperation::Verify, {RangeChoice::All}, {"Start Verifying Check", "Verifying Success"}},
  };
  for (const Case& c : cases) {
    ChipRig rig;
    ProgramImage empty;
    EXPECT_TRUE(RunRangeOperation(rig.ctx, c.operation, empty, c.range, {}));
    EXPECT_EQ(rig.progress.process, c.texts);
    EXPECT_TRUE(rig.transcript.Transfers().empty());
    EXPECT_EQ(Trace(rig.transcript), (std::vector<std::string>{"open", "close"}));
  }
}

TEST_F(FlashEngineTest, ProgramButtonTakesThePageSizeFromTheLastIdentifier) {
  struct Case {
    ChipIdBytes id;
    std::size_t page;
  } cases[] = {
      {{0xC2, 0x22, 0x10}, 32},
      {{0xC2, 0x20, 0x13}, 256},
      {{0xEF, 0x22, 0x13}, 256},
      {{0x00, 0x00, 0x00}, 256},  // no identifier read yet
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    ChipRig rig;
    rig.chip.Flash().Fill(0xFF);
    rig.EnterIspMode();
    const ProgramImage image = RandomImage(512);
    const FlashRange range{RangeChoice::AssignRange, 0x4000, 0};
    ASSERT_TRUE(RunRangeOperation(rig.ctx, RangeOperation::Program, image, range, c.id));
    const auto headers = rig.Requests(0x80, 0x02);
    EXPECT_EQ(headers.size(), 512 / c.page);
    EXPECT_EQ(AddressOf(headers.back()), 0x4000 + 512 - c.page);
    EXPECT_EQ(rig.chip.Flash().ReadRange(0x4000, 512), ImageBytes(image, 0, 512));
  }
}

TEST_F(FlashEngineTest, RangesPastTheAddressSpaceAreRefusedBeforeAnythingIsSent) {
  const ProgramImage image = RandomImage(0x2000);
  const FlashRange high{RangeChoice::AssignRange, 0xFFF000, 0x2000};
  struct Case {
    const char* name;
    std::function<bool(ChipRig&)> run;
  } cases[] = {
      {"erase", [&](ChipRig& r) { return EraseFlash(r.ctx, high, {}); }},
      {"program button",
       [&](ChipRig& r) {
         return RunRangeOperation(r.ctx, RangeOperation::Program, image, high, {});
       }},
      {"program pass",
       [&](ChipRig& r) { return ProgramRange(r.ctx, image, 0xFFF000, 256, 0xFFF000, 0x1001000); }},
      {"blank pass", [&](ChipRig& r) { return BlankCheckRange(r.ctx, 0xFFFFC0, 0x1000040); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    EXPECT_FALSE(c.run(rig));
    EXPECT_EQ(rig.progress.process.back(), "Range beyond flash address 0xFFFFFF");
    EXPECT_TRUE(rig.transcript.Transfers().empty());
    EXPECT_EQ(rig.chip.Flash().Peek(0), 0xCC);
  }
}

// The erase button sends nothing for sectors past the part's end (they would wrap onto sector 0)
// or off the 4 KiB grid (whole sectors would erase flash outside the range).
TEST_F(FlashEngineTest, EraseRefusesSectorsPastThePartOrOffTheGrid) {
  const struct {
    FlashRange range;
    ChipIdBytes id;
    const char* text;
  } cases[] = {
      {{RangeChoice::AssignRange, 0x7F000, 0x2000},
       kTestPart,
       "Range beyond flash address 0x07FFFF"},
      {{RangeChoice::AssignRange, 0x8800, 0x1000},
       kTestPart,
       "Start and size must be multiples of 4 KB to erase in sectors"},
      {{RangeChoice::AssignRange, 0x8000, 0x1001},
       kTestPart,
       "Start and size must be multiples of 4 KB to erase in sectors"},
      // An unknown capacity code leaves only the 24-bit limit.
      {{RangeChoice::AssignRange, 0xFFF000, 0x2000},
       {0xC2, 0x20, 0x00},
       "Range beyond flash address 0xFFFFFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ChipRig rig;
    EXPECT_FALSE(EraseFlash(rig.ctx, c.range, c.id));
    EXPECT_EQ(rig.progress.process, std::vector<std::string>{c.text});
    EXPECT_TRUE(rig.transcript.Events().empty());
  }
  // Up to the part's last sector is fine.
  EnterIspMode();
  EXPECT_TRUE(EraseFlash(ctx, {RangeChoice::AssignRange, 0x7E000, 0x2000}, kTestPart));
  EXPECT_EQ(chip.Flash().SectorErases(), 2u);
  EXPECT_EQ(chip.Flash().Peek(0x7FFFF), 0xFF);
  EXPECT_EQ(chip.Flash().Peek(0x0000), 0xCC);
}

// ---- Read-back ----

// Fails the data fetch of every second read of one chunk: the chunk reads once, never twice.
class SecondReadFails final : public sim::VirtualDevice {
 public:
  SecondReadFails(sim::VirtualChip& chip, std::uint32_t chunk) : chip_(chip), chunk_(chunk) {}
  bool HandleControl(Backend backend, const ControlSetup& setup, std::uint8_t* data,
                     std::uint32_t length) override {
    if (setup.request == 0x81 && length == 4) {
      const std::uint32_t address = data[1] << 16 | data[2] << 8 | data[3];
      reading_chunk_ = address == chunk_;
      if (reading_chunk_) ++reads_;
    }
    if (setup.request == 0x82 && reading_chunk_ && reads_ % 2 == 0) return false;
    return chip_.HandleControl(backend, setup, data, length);
  }

 private:
  sim::VirtualChip& chip_;
  std::uint32_t chunk_;
  bool reading_chunk_ = false;
  int reads_ = 0;
};

TEST_F(FlashEngineTest, ReadBackOfAConsistentFlashFillsTheFirst128KiB) {
  const ProgramImage image = RandomImage(kProgramImageSize);
  chip.Flash().WriteRange(0, image.bytes);
  EnterIspMode();  // the read-back relies on ISP mode entered beforehand
  std::vector<std::uint8_t> buffer(kProgramImageSize, 0x11);

  EXPECT_TRUE(ReadFlashBack(ctx, buffer));
  EXPECT_EQ(progress.process,
            (std::vector<std::string>{"Read Flash data back", "Read Flash content Success"}));
  ASSERT_EQ(progress.address.size(), 2048u);
  EXPECT_EQ(progress.address.back(), "Verifying Addr: 0x01FFC0");
  EXPECT_EQ(Requests(0x81, 0x03).size(), 4096u);  // every chunk twice
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + kReadBackEnd, image.bytes.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + kReadBackEnd, buffer.end(),
                          [](std::uint8_t b) { return b == 0x11; }));
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(FlashEngineTest, ReadBackFailures) {
  struct Case {
    const char* name;
    std::function<void(ChipRig&)> arrange;
    bool ok;
    const char* last_text;
    std::uint32_t fill_from;  // first buffer byte that must still hold 0x5A
  } cases[] = {
      {"no device", [](ChipRig& r) { r.chip.Unplug(); }, false,
       "No flash answers: JEDEC id 00 00 00", 0},
      // Neither an empty socket nor a busy part may read back as a consistent copy.
      {"no flash on the bus", [](ChipRig& r) { r.chip.Flash().SetAbsent(true); }, false,
       "No flash answers: JEDEC id FF FF FF", 0},
      {"part stays busy", [](ChipRig& r) { r.chip.SetFlashStuckBusy(true); }, false,
       "Flash is busy", 0},
      {"one inconsistent read is read again",
       [](ChipRig& r) { r.chip.FlipReadBits(0x08, sim::VirtualChip::Flip::Once, 3); }, true,
       "Read Flash content Success", kReadBackEnd},
      // The first read of chunk 0x40 differs from the second on every attempt.
      {"chunk 0x40 reads differently at byte 7",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "Verifying Addr: 0x000000" || text == "Verifying Addr: 0x000040") {
             r.chip.FlipReadBits(0x01, sim::VirtualChip::Flip::Once, 7);
           }
         };
       },
       false, "Verifying Fail at 0x000047", 0x80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    rig.chip.Flash().WriteRange(0, RandomImage(0x200).bytes);
    rig.EnterIspMode();
    c.arrange(rig);
    std::vector<std::uint8_t> buffer(kProgramImageSize, 0x11);
    EXPECT_EQ(ReadFlashBack(rig.ctx, buffer), c.ok);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    EXPECT_TRUE(std::all_of(buffer.begin() + c.fill_from, buffer.begin() + kReadBackEnd,
                            [](std::uint8_t b) { return b == kReadBackFill; }));
  }
}

// A chunk whose second read never comes back was not confirmed, even though its first read was
// fine: three such attempts end the read-back.
TEST_F(FlashEngineTest, ReadBackCountsAFailedSecondReadAsInconsistent) {
  chip.Flash().WriteRange(0, RandomImage(0x200).bytes);
  EnterIspMode();
  SecondReadFails device(chip, 0x40);
  platform.Plug(sim::kAudioPath, &device);
  std::vector<std::uint8_t> buffer(kProgramImageSize, 0x11);
  EXPECT_FALSE(ReadFlashBack(ctx, buffer));
  EXPECT_EQ(progress.process.back(), "Verifying Fail at 0x000040");
  EXPECT_EQ(progress.address,
            (std::vector<std::string>{"Verifying Addr: 0x000000", "Verifying Addr: 0x000040",
                                      "Verifying Addr: 0x000040", "Verifying Addr: 0x000040"}));
  EXPECT_TRUE(std::all_of(buffer.begin() + 0x80, buffer.begin() + kReadBackEnd,
                          [](std::uint8_t b) { return b == kReadBackFill; }));
}

TEST_F(FlashEngineTest, ReadBackRefusesABufferTooSmall) {
  std::vector<std::uint8_t> buffer(0x100, 0x11);
  EXPECT_FALSE(ReadBackRange(ctx, 0, 0x200, buffer));
  EXPECT_TRUE(transcript.Transfers().empty());
  EXPECT_EQ(buffer[0], 0x11);
}

// ---- Atomic file writer ----

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder =
        std::filesystem::temp_directory_path() /
        ("velmora-atomic-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::vector<std::uint8_t> Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::filesystem::path folder;
};

TEST_F(AtomicFileTest, ReplacesTheTargetWholeAndLeavesNothingElse) {
  const auto target = folder / "flash.bin";
  std::ofstream(target) << "old contents";
  const std::vector<std::uint8_t> bytes = RandomImage(kReadBackEnd).bytes;
  const std::span<const std::uint8_t> first(bytes.data(), kReadBackEnd);

  const FileWriteResult result = WriteFileAtomically(target.string(), first);
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(Contents(target), std::vector<std::uint8_t>(first.begin(), first.end()));
  EXPECT_EQ(Entries(), std::vector<std::string>{"flash.bin"});
}

// Saving onto a link writes the file it points to, and an overwritten file keeps its mode: a
// private 0600 file must not become readable by everyone.
TEST_F(AtomicFileTest, WritesThroughLinksAndKeepsTheModeOfTheFileItReplaces) {
  namespace fs = std::filesystem;
  fs::create_directories(folder / "real");
  std::ofstream(folder / "real" / "target.bin") << "old";
  fs::permissions(folder / "real" / "target.bin", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real/target.bin", folder / "relative.bin");
  fs::create_symlink(folder / "relative.bin", folder / "chain.bin");
  fs::create_symlink("real/new.bin", folder / "dangling.bin");
  std::ofstream(folder / "group.bin") << "old";
  fs::permissions(folder / "group.bin",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const struct {
    const char* name;
    fs::path written;
    fs::path lands_in;
    fs::perms mode;  // fs::perms::unknown: whatever a new file gets
  } cases[] = {
      {"link with a relative target", folder / "relative.bin", folder / "real" / "target.bin",
       fs::perms::owner_read | fs::perms::owner_write},
      {"link to a link", folder / "chain.bin", folder / "real" / "target.bin",
       fs::perms::owner_read | fs::perms::owner_write},
      {"link to a file not made yet", folder / "dangling.bin", folder / "real" / "new.bin",
       fs::perms::unknown},
      {"plain file, mode 0640", folder / "group.bin", folder / "group.bin",
       fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read},
  };
  std::uint32_t seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> bytes = RandomImage(300, seed++).bytes;
    const std::span<const std::uint8_t> first(bytes.data(), 300);
    const FileWriteResult result = WriteFileAtomically(c.written.string(), first);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(fs::is_symlink(c.written) || c.written == c.lands_in);
    EXPECT_FALSE(fs::is_symlink(c.lands_in));
    EXPECT_EQ(Contents(c.lands_in), std::vector<std::uint8_t>(first.begin(), first.end()));
    if (c.mode != fs::perms::unknown) {
      EXPECT_EQ(fs::status(c.lands_in).permissions() & fs::perms::all, c.mode);
    }
  }
  EXPECT_EQ(Entries(), (std::vector<std::string>{"chain.bin", "dangling.bin", "group.bin", "real",
                                                 "relative.bin"}));
  EXPECT_EQ(fs::read_symlink(folder / "relative.bin"), fs::path("real/target.bin"));
  std::vector<std::string> in_real;
  for (const auto& entry : fs::directory_iterator(folder / "real")) {
    in_real.push_back(entry.path().filename().string());
  }
  std::sort(in_real.begin(), in_real.end());
  EXPECT_EQ(in_real, (std::vector<std::string>{"new.bin", "target.bin"}));
}

TEST_F(AtomicFileTest, FailuresLeaveNoPartialFile) {
  std::filesystem::create_directories(folder / "taken.bin" / "inside");
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink("pipe", folder / "to-pipe");
  struct Case {
    const char* name;
    std::filesystem::path target;
    std::vector<std::string> entries_after;
  } cases[] = {
      {"folder missing", folder / "missing" / "flash.bin", {"pipe", "taken.bin", "to-pipe"}},
      {"target is a folder", folder / "taken.bin", {"pipe", "taken.bin", "to-pipe"}},
      {"no file name", folder / "", {"pipe", "taken.bin", "to-pipe"}},
      {"target is a named pipe", folder / "pipe", {"pipe", "taken.bin", "to-pipe"}},
      {"link to a named pipe", folder / "to-pipe", {"pipe", "taken.bin", "to-pipe"}},
  };
  const std::vector<std::uint8_t> bytes(4096, 0xA5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileWriteResult result = WriteFileAtomically(c.target.string(), bytes);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(Entries(), c.entries_after);
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder / "taken.bin" / "inside"));
  EXPECT_TRUE(std::filesystem::is_fifo(folder / "pipe"));
}

}  // namespace
}  // namespace velmora::testing
