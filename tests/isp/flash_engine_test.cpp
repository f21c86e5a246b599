// The flash engine against the strict virtual chip: status writes, erase, the chunk-retry passes,
// page programming, the single buttons, read-back and the atomic file writer.
#include "flash_engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "atomic_file.h"
#include "chip_under_test.h"
#include "loader_test_files.h"

namespace velmora::testing {
namespace {

constexpr ChipIdBytes kTestPart{0xC2, 0x20, 0x13};  // 512 KiB, 256-byte pages

class FlashEngineTest : public ChipUnderTest {};

TEST_F(FlashEngineTest, StatusWriteEnablesWritesAndPollsEveryTenMsUntilIdle) {
  OpenInIspMode();
  WriteStatusAndWait(link, 0x9C);
  EXPECT_EQ(Trace(transcript),
            (Strings{"80/06", "80/01", "81/05", "83", "82", "p10", "81/05", "83", "82"}));
  const std::uint8_t writable = chip.Flash().WritableStatusBits();
  EXPECT_EQ(chip.Flash().Status() & writable, 0x9C & writable);
}

TEST_F(FlashEngineTest, ChipEraseDotsCreepEveryTwentyPollsAndGiveUpAfterAThousand) {
  chip.Flash().SetTimes({.chip_erase_us = 2500000});
  OpenInIspMode(false);
  ASSERT_TRUE(EraseFlash(ctx, {}, kTestPart));
  const std::size_t polls = progress.process.size() - 1;
  ASSERT_GE(polls, 201u);
  for (std::size_t n : {0, 19, 20, 199, 200})
    EXPECT_EQ(progress.process[1 + n], "Flash Erase All " + std::string((n / 20) % 10, '.'));
  EXPECT_EQ(progress.status.back(), "Status Register: 0x00");  // 0x03 while erasing
  EXPECT_EQ(progress.pumps, static_cast<int>(polls));
  EXPECT_EQ(transcript.TotalPauseMs(), 10u * polls);  // after the command and each busy poll
  const Strings trace = Trace(transcript);
  EXPECT_EQ(Strings(trace.begin(), trace.begin() + 7),
            (Strings{"open", "81/05", "83", "82", "80/06", "80/C7", "p10"}));
  // An erase that never finishes fails after 1000 polls.
  chip.Flash().SetTimes({.chip_erase_us = 3600000000});
  transcript.Clear();
  EXPECT_FALSE(EraseFlash(ctx, {}, kTestPart));
  EXPECT_EQ(progress.process.back(), "Erase Flash Fail");
  EXPECT_EQ(Requests(0x81, 0x05).size(), 1u + 1000u);  // the idle check, then the polls
  EXPECT_EQ(transcript.TotalPauseMs(), 10u + 1000u * 10u);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(FlashEngineTest, SectorEraseCoversExactlyTheRangeEachSectorWriteEnabled) {
  const struct {
    std::uint32_t start, size;
    std::vector<std::uint32_t> sectors;
  } cases[] = {
      {0x8000, 0x3000, {0x8000, 0x9000, 0xA000}},
      {0x13000, 0x2000, {0x13000, 0x14000}},  // high and low address bytes differ
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    ChipRig rig;
    rig.OpenInIspMode(false);
    ASSERT_TRUE(EraseFlash(rig.ctx, Assign(c.start, c.size), kTestPart));
    std::vector<std::uint32_t> sent;
    Strings shown = rig.progress.process, texts = {"Flash Sector Erase"};
    for (const auto& e : rig.Requests(0x80, 0x20)) sent.push_back(AddressOf(e));
    for (std::uint32_t s : c.sectors) texts.push_back(texts::SectorEraseProgress(s));
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    EXPECT_EQ(sent, c.sectors);
    EXPECT_EQ(shown, texts);
    const auto& flash = rig.chip.Flash();
    EXPECT_TRUE(AllAre(flash.ReadRange(0, c.start), 0xCC));
    EXPECT_TRUE(AllAre(flash.ReadRange(c.start, c.size), 0xFF));
    EXPECT_EQ(flash.Peek((c.start + c.size) % flash.Size()), 0xCC);
  }
  EXPECT_EQ(texts::SectorEraseProgress(0x13000), "Flash Sector Erase: 0x 013000");
}

// A chunk that reads wrong or not at all is read again; a clean read clears the count, the third
// failure in a row ends the pass at the first wrong byte.
TEST_F(FlashEngineTest, ChunkRetriesClearOnACleanReadAndGiveUpOnTheThird) {
  const struct {
    std::function<void(sim::VirtualChip&)> fault;
    std::size_t reads, pumps;  // 0x81 reads for 256 bytes; one pump per chunk read
    const char* failure;
  } cases[] = {
      {[](sim::VirtualChip&) {}, 4, 4, nullptr},
      {[](sim::VirtualChip& c) { c.FailNextTransfers(1), c.FlipReadBits(1, Flip::Once, 0); }, 6, 5,
       nullptr},
      {[](sim::VirtualChip& c) { c.FailRequest(0x81); }, 3, 0, "Blanking Fail at 0x000000"},
      {[](sim::VirtualChip& c) { c.FlipReadBits(0x10, Flip::Always, 9); }, 3, 3,
       "Blanking Fail at 0x000009"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reads);
    ChipRig rig;
    rig.chip.Flash().Fill(0xFF);
    rig.OpenInIspMode();
    c.fault(rig.chip);
    EXPECT_EQ(BlankCheckRange(rig.ctx, 0, 256), c.failure == nullptr);
    EXPECT_EQ(rig.Requests(0x81, 0x03).size(), c.reads);
    EXPECT_EQ(rig.progress.pumps, static_cast<int>(c.pumps));
    EXPECT_EQ(rig.progress.process, c.failure ? Strings{c.failure} : Strings{});
    if (c.failure) continue;
    EXPECT_EQ(rig.progress.address.back(), "Blanking Addr: 0x0000C0");
  }
}

TEST_F(FlashEngineTest, ProgramSkipsErasedPagesSendsTheLastPageWholeAndGivesUpOnABusyPart) {
  ProgramImage image = RandomImage(3 * 256 + 10);
  std::fill_n(image.bytes.begin() + 256, 256, 0xFF);
  chip.Flash().Fill(0xFF);
  OpenInIspMode();
  ASSERT_TRUE(ProgramRange(ctx, image, 0, 256, 0, image.length));
  std::vector<std::uint32_t> headers;
  for (const auto& e : Requests(0x80, 0x02)) headers.push_back(AddressOf(e));
  EXPECT_EQ(headers, (std::vector<std::uint32_t>{0x000, 0x200, 0x300}));
  EXPECT_EQ(Requests(0x80).back().data, ImageBytes(image, 0x300, 256));  // 10 bytes, 246 of 0xFF
  EXPECT_EQ(chip.Flash().ReadRange(0, 1024), ImageBytes(image, 0, 1024));
  EXPECT_EQ(progress.address, (Strings{"0x000000", "0x000200", "0x000300"}));
  // Each page: idle check, write enable, address and pump, header, data, 1 ms, ready poll.
  const Strings page = {
      "81/05", "83", "82", "80/06", "pump", "80/02~", "80/" + texts::Hex(image.bytes[0], 2),
      "p1",    "83"};
  const Strings trace = Trace(transcript);
  EXPECT_EQ(Strings(trace.begin(), trace.begin() + 9), page);
  // Verify examines every byte below the end, the skipped page's 0xFF too, and none after.
  chip.Flash().WriteRange(image.length, {0x00});
  EXPECT_TRUE(VerifyRange(ctx, image, 0, 0, image.length));
  for (const std::uint32_t at : {0x100u, image.length - 1}) {
    chip.Flash().WriteRange(at, {static_cast<std::uint8_t>(image.bytes[at] ^ 0x81)});
    EXPECT_FALSE(VerifyRange(ctx, image, 0, 0, image.length));
    EXPECT_EQ(progress.process.back(), texts::WithAddress(texts::kVerifyFail, at));
    chip.Flash().WriteRange(at, {image.bytes[at]});
  }
  // A part that stays busy after a page: the next one is not sent.
  transcript.Clear();
  progress.on_pump = [&, first = progress.pumps + 1](int n) { chip.SetFlashStuckBusy(n == first); };
  EXPECT_FALSE(ProgramRange(ctx, RandomImage(512), 0x1000, 256, 0x1000, 0x1200));
  EXPECT_EQ(progress.process.back(), "Programming Fail at 0x001100");
  EXPECT_EQ(Requests(0x80, 0x02).size(), 1u);
  EXPECT_EQ(Requests(0x81, 0x05).size(), 1u + 101u);  // 100 ms of 1 ms polls before page two
}

// The single buttons: start text, open, the pass over the image's extent, success text, close.
TEST_F(FlashEngineTest, ButtonsOnAnEmptyImageSendNothingAndSucceed) {
  const std::pair<RangeOperation, Strings> cases[] = {
      {RangeOperation::BlankCheck, {"Start Blanking Check", "Blanking Success"}},
      {RangeOperation::Program, {"Start Programming...", "Programming Success"}},
      {RangeOperation::Verify, {"Start Verifying Check", "Verifying Success"}}};
  for (const auto& [operation, texts] : cases) {
    ChipRig rig;
    EXPECT_TRUE(RunRangeOperation(rig.ctx, operation, ProgramImage{}, Assign(0x8000, 0), {}));
    EXPECT_EQ(rig.progress.process, texts);
    EXPECT_EQ(Trace(rig.transcript), (Strings{"open", "close"}));
  }
}

// Past the 24-bit space or the part's end addresses wrap onto low flash; off the 4 KiB grid whole
// sectors would erase flash outside the range. Nothing is sent for either.
TEST_F(FlashEngineTest, RangesPastTheFlashOrOffTheSectorGridAreRefusedBeforeAnythingIsSent) {
  const std::string beyond = "Range beyond flash address 0x";
  const struct {
    FlashRange range;
    ChipIdBytes id;  // the capacity code bounds the range; an unknown one leaves 24 bits
    std::string text;
  } cases[] = {{Assign(0xFFF000, 0x2000), {0xC2, 0x20, 0x00}, beyond + "FFFFFF"},
               {Assign(0x7F000, 0x2000), kTestPart, beyond + "07FFFF"},
               {Assign(0x8800, 0x1000), kTestPart, kUnaligned},
               {Assign(0x8000, 0x1001), kTestPart, kUnaligned}};
  for (const auto& c : cases) {
    ChipRig rig;
    const ProgramImage image = RandomImage(0x2000);
    EXPECT_FALSE(EraseFlash(rig.ctx, c.range, c.id));
    EXPECT_EQ(rig.progress.process, Strings{c.text});
    if (c.text != kUnaligned) {  // the passes and buttons bound the image's extent the same way
      EXPECT_FALSE(RunRangeOperation(rig.ctx, RangeOperation::Program, image, c.range, c.id));
      EXPECT_FALSE(BlankCheckRange(rig.ctx, 0xFFFFC0, 0x1000040));
      EXPECT_EQ(rig.progress.process.back(), beyond + "FFFFFF");
    }
    EXPECT_TRUE(rig.transcript.Events().empty());
  }
  OpenInIspMode(false);  // up to the part's last sector is fine
  EXPECT_TRUE(EraseFlash(ctx, Assign(0x7E000, 0x2000), kTestPart));
  EXPECT_EQ(chip.Flash().SectorErases(), 2u);
}

TEST_F(FlashEngineTest, ReadBackConfirmsEachChunkAndLeavesTheFillAfterOneThatFails) {
  // Chunk 0x40 is never confirmed: its first read differs at byte 7 from its second, or every
  // second read of it is lost (a first read alone is no consistent copy).
  const auto flip_40 = [](ChipRig& r) {
    r.progress.on_address_text = [&r](const std::string& text) {
      if (text.ends_with("0000") || text.ends_with("0040")) r.chip.FlipReadBits(1, Flip::Once, 7);
    };
  };
  const auto lose_second_40 = [](ChipRig& r) {
    auto reads = std::make_shared<int>(0);
    r.keep_alive = std::make_shared<RequestFilter>(r, [=](auto& s, auto d, std::uint32_t n) {
      if (s.request == 0x81 && n == 4) *reads = d[3] == 0x40 && d[2] == 0 ? *reads + 1 : 0;
      return s.request == 0x82 && *reads > 0 && *reads % 2 == 0;
    });
  };
  const struct {
    std::function<void(ChipRig&)> arrange;
    const char* last_text;
    std::uint32_t fill_from;  // first buffer byte that must still hold 0x5A
  } cases[] = {
      {[](ChipRig& r) { r.chip.Unplug(); }, "No flash answers: JEDEC id 00 00 00", 0},
      {[](ChipRig& r) { r.chip.Flash().SetAbsent(true); }, "No flash answers: JEDEC id FF FF FF",
       0},
      {[](ChipRig& r) { r.chip.SetFlashStuckBusy(true); }, "Flash is busy", 0},
      {[](ChipRig& r) { r.chip.FlipReadBits(8, Flip::Once, 3); }, "Read Flash content Success",
       kReadBackEnd},  // one inconsistent read is read again
      {flip_40, "Verifying Fail at 0x000047", 0x80},
      {lose_second_40, "Verifying Fail at 0x000040", 0x80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last_text);
    ChipRig rig;
    const ProgramImage image = RandomImage(kProgramImageSize);
    rig.chip.Flash().WriteRange(0, image.bytes);
    rig.OpenInIspMode(false);
    c.arrange(rig);
    std::vector<std::uint8_t> buffer(kProgramImageSize, 0x11);
    const bool ok = c.fill_from == kReadBackEnd;
    EXPECT_EQ(ReadFlashBack(rig.ctx, buffer), ok);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    EXPECT_TRUE(AllAre({buffer.begin() + c.fill_from, buffer.begin() + kReadBackEnd}, 0x5A));
    if (!ok) continue;
    EXPECT_EQ(rig.progress.process.front(), "Read Flash data back");
    EXPECT_EQ(rig.progress.address.size(), 2048u + 1u);  // each chunk, one read again
    EXPECT_EQ(rig.progress.address.back(), "Verifying Addr: 0x01FFC0");
    EXPECT_EQ(rig.Requests(0x81, 0x03).size(), 4096u + 2u);  // every chunk twice
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + kReadBackEnd, image.bytes.begin()));
    EXPECT_TRUE(AllAre({buffer.begin() + kReadBackEnd, buffer.end()}, 0x11));
    // A buffer too small is refused untouched.
    EXPECT_FALSE(ReadBackRange(rig.ctx, 0, 0x200, std::span(buffer).first(0x100)));
    EXPECT_EQ(buffer[0], image.bytes[0]);
  }
}

// The writer behind every saved file: a whole new file in place of the old one, or no change at
// all; through a link, the file the link names, with that file's mode.
TEST(AtomicFile, ReplacesTheTargetWholeOrLeavesEverythingAsItWas) {
  ScratchDir dir;
  const std::string target = dir.Write("target.bin", "old contents");
  std::filesystem::create_directories(dir.PathOf("taken.bin/inside"));
  ASSERT_EQ(::mkfifo(dir.PathOf("pipe").c_str(), 0600), 0);
  const auto entries = [&] {
    std::multiset<std::string> names;  // every name, with the size of each file
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.PathOf("")))
      names.insert(e.path().string() + std::to_string(e.is_regular_file() ? e.file_size() : 0));
    return names;
  };
  const std::vector<std::uint8_t> bytes(300, 0xA5);
  const auto before = entries();
  for (const char* name : {"missing/flash.bin", "taken.bin", "", "pipe"})
    EXPECT_FALSE(WriteFileAtomically(dir.PathOf(name), bytes).ok || entries() != before) << name;
  ASSERT_TRUE(WriteFileAtomically(target, bytes).ok);
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string(300, '\xA5'));
  EXPECT_EQ(entries().size(), before.size());  // nothing left behind
  namespace fs = std::filesystem;
  const fs::perms own = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(target, own);
  fs::create_symlink("target.bin", dir.PathOf("link.bin"));
  ASSERT_TRUE(WriteFileAtomically(dir.PathOf("link.bin"), std::span(bytes).first(7)).ok);
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("link.bin")));
  EXPECT_EQ(fs::file_size(target), 7u);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, own);
}

}  // namespace
}  // namespace velmora::testing
