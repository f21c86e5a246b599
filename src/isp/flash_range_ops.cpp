// The chunked blank check and verify, the page programming pass, and the single buttons that
// run them over the image's extent.
#include <algorithm>
#include <array>

#include "flash_engine.h"
#include "flash_texts.h"

namespace velmora {
namespace {

constexpr int kBusyReadsBeforePage = 101;
constexpr unsigned kBusyPauseMs = 1;
constexpr int kReadyPollsAfterPage = 10;
constexpr unsigned kReadyPauseMs = 1;
constexpr unsigned kTypicalPageMs = 1;  // a page program's typical time (0.8 to 1.5 ms)

struct ChunkTexts {
  const char* address;
  const char* failure;
};

bool RefuseBeyondFlash(FlashContext& ctx, std::uint32_t end) {
  if (end <= kFlashAddressLimit) return false;
  ctx.progress.ProcessText(texts::RangeBeyondFlash(kFlashAddressLimit));
  return true;
}

// The chunk-retry scheme: each chunk of `size` bytes is read and its bytes below `end` compared
// with expected(address) up to the first wrong one. A wrong byte or an unreadable chunk counts
// one failure and the chunk is read again; a clean attempt clears the count; the third failure
// in a row ends the pass at the wrong byte (or the chunk, when it was unreadable).
template <typename Expected>
bool CheckChunks(FlashContext& ctx, std::uint32_t start, std::uint32_t end, std::uint32_t size,
                 const ChunkTexts& txt, Expected expected) {
  if (size == 0 || size > kLongReadSize) return false;
  if (RefuseBeyondFlash(ctx, end)) return false;
  std::array<std::uint8_t, kLongReadSize> chunk{};
  int failures = 0;
  std::uint32_t a = start;
  while (a < end) {
    if (StopShown(ctx.progress)) return false;
    chunk.fill(0);  // a short answer must not pass on the previous chunk's bytes
    std::uint32_t p = 0;
    if (FlashRead(ctx.link, a, size, chunk.data())) {
      while (p < size && a + p < end && chunk[p] == expected(a + p)) ++p;
      const bool wrong = p < size && a + p < end;
      failures = wrong ? failures + 1 : 0;
      ctx.progress.AddressText(texts::WithAddress(txt.address, a));
      ctx.progress.Reached(a);
      ctx.progress.Pump();
    } else {
      ++failures;
    }
    if (failures >= kChunkAttempts) {
      ctx.progress.ProcessText(texts::WithAddress(txt.failure, a + p));
      return false;
    }
    if (failures == 0) a += size;
  }
  return true;
}

bool AllErased(const std::uint8_t* page, std::uint16_t size) {
  return std::all_of(page, page + size, [](std::uint8_t b) { return b == 0xFF; });
}

// Up to 101 status reads, 1 ms after each busy one; a read that failed counts as busy.
bool IdleBeforePage(ChipLink& link) {
  for (int read = 0; read < kBusyReadsBeforePage; ++read) {
    if (!IsBusy(StatusForWait(link))) return true;
    link.sleeper.SleepMs(kBusyPauseMs);
  }
  return false;
}

}  // namespace

bool BlankCheckRange(FlashContext& ctx, std::uint32_t start, std::uint32_t end,
                     std::uint32_t chunk_size) {
  return CheckChunks(ctx, start, end, chunk_size, {texts::kBlankAddr, texts::kBlankFail},
                     [](std::uint32_t) { return std::uint8_t{0xFF}; });
}

bool VerifyRange(FlashContext& ctx, const ProgramImage& image, std::uint32_t image_base,
                 std::uint32_t start, std::uint32_t end, std::uint32_t chunk_size) {
  return CheckChunks(
      ctx, start, end, chunk_size, {texts::kVerifyAddr, texts::kVerifyFail},
      [&](std::uint32_t address) { return ImageByteAt(image, image_base, address); });
}

std::optional<std::vector<std::uint32_t>> FindChangedSectors(FlashContext& ctx,
                                                             const ProgramImage& image,
                                                             std::uint32_t image_base,
                                                             std::uint32_t start,
                                                             std::uint32_t end) {
  if (start % kSectorSize != 0 || end % kSectorSize != 0) return std::nullopt;
  if (RefuseBeyondFlash(ctx, end)) return std::nullopt;
  std::vector<std::uint32_t> changed;
  std::array<std::uint8_t, kLongReadSize> chunk{};
  int failures = 0;
  std::uint32_t a = start;
  while (a < end) {
    if (StopShown(ctx.progress)) return std::nullopt;
    const std::uint32_t size = std::min(kLongReadSize, end - a);
    if (!FlashRead(ctx.link, a, size, chunk.data())) {
      if (++failures < kChunkAttempts) continue;
      ctx.progress.ProcessText(texts::WithAddress(texts::kCompareFail, a));
      return std::nullopt;
    }
    failures = 0;
    ctx.progress.AddressText(texts::WithAddress(texts::kCompareAddr, a));
    ctx.progress.Reached(a);
    ctx.progress.Pump();
    std::uint32_t p = 0;
    while (p < size && chunk[p] == ImageByteAt(image, image_base, a + p)) ++p;
    if (p == size) {
      a += size;
      continue;
    }
    // A wrong read only costs the sector a rewrite, which the verify then checks.
    const std::uint32_t sector = (a + p) / kSectorSize * kSectorSize;
    changed.push_back(sector);
    a = sector + kSectorSize;
  }
  return changed;
}

bool ProgramRange(FlashContext& ctx, const ProgramImage& image, std::uint32_t image_base,
                  std::uint16_t page_size, std::uint32_t start, std::uint32_t end, PagePace pace) {
  if (page_size == 0 || page_size > kLargePageSize) return false;
  if (RefuseBeyondFlash(ctx, end)) return false;
  std::array<std::uint8_t, kLargePageSize> page{};
  bool seen_idle = false;  // Confirmed: the part read idle after the last page it was given
  for (std::uint32_t a = start; a < end; a += page_size) {
    if (StopShown(ctx.progress)) return false;
    for (std::uint16_t i = 0; i < page_size; ++i) page[i] = ImageByteAt(image, image_base, a + i);
    if (AllErased(page.data(), page_size)) continue;

    const bool idle = pace == PagePace::Confirmed && seen_idle ? true : IdleBeforePage(ctx.link);
    const bool enabled = FlashWriteEnable(ctx.link);
    ctx.progress.AddressText(texts::PageAddress(a));
    ctx.progress.Reached(a);
    ctx.progress.Pump();
    // A busy part, or one that missed its write enable or the page, has not written the page.
    if (!idle || !enabled || !FlashPageProgram(ctx.link, a, page_size, page.data())) {
      ctx.progress.ProcessText(texts::WithAddress(texts::kProgramFail, a));
      return false;
    }
    if (pace == PagePace::Confirmed) {
      // The status read that finds the page done is the only traffic the page needs; a page
      // that never finishes fails here rather than at the next page's write enable.
      ctx.link.sleeper.SleepMs(kTypicalPageMs);
      seen_idle = IdleBeforePage(ctx.link);
      if (!seen_idle) {
        ctx.progress.ProcessText(texts::WithAddress(texts::kProgramFail, a));
        return false;
      }
      continue;
    }
    for (int poll = 0; poll < kReadyPollsAfterPage; ++poll) {
      ctx.link.sleeper.SleepMs(kReadyPauseMs);
      if (SpiReady(ctx.link)) break;
    }
  }
  return true;
}

bool RunRangeOperation(FlashContext& ctx, RangeOperation operation, const ProgramImage& image,
                       const FlashRange& range, const ChipIdBytes& chip_id) {
  static constexpr const char* kStart[] = {texts::kStartBlank, texts::kStartProgramButton,
                                           texts::kStartVerify};
  static constexpr const char* kSuccess[] = {texts::kBlankSuccess, texts::kProgramSuccess,
                                             texts::kVerifySuccess};
  const auto which = static_cast<int>(operation);
  ctx.progress.ProcessText(kStart[which]);

  // Past the part's end the addresses would wrap onto its low flash.
  const FlashExtent extent = ImageExtent(range, image.length);
  const std::uint64_t capacity = FlashCapacityFor(chip_id);
  if (!extent.Within(capacity)) {
    ctx.progress.ProcessText(texts::RangeBeyondFlash(capacity));
    return false;
  }
  const auto start = static_cast<std::uint32_t>(extent.start);
  const auto end = static_cast<std::uint32_t>(extent.end);
  const std::uint32_t base = range.ImageBase();

  ctx.link.usb.Open();
  bool ok = false;
  switch (operation) {
    case RangeOperation::BlankCheck:
      ok = BlankCheckRange(ctx, start, end);
      break;
    case RangeOperation::Program:
      ok = ProgramRange(ctx, image, base, PageSizeFor(chip_id), start, end);
      break;
    case RangeOperation::Verify:
      ok = VerifyRange(ctx, image, base, start, end);
      break;
  }
  if (ok) ctx.progress.ProcessText(kSuccess[which]);
  ctx.link.usb.Close();
  return ok;
}

}  // namespace velmora
