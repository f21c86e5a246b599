// The two kinds of erase, each polled on the status register's busy bit.
#include "flash_engine.h"
#include "flash_status.h"
#include "flash_texts.h"

namespace velmora {
namespace {

constexpr unsigned kStatusPollPauseMs = 10;
constexpr unsigned kAfterEraseCommandMs = 10;

enum class PollEnd { Idle, Failed, Stopped };

// Polls an erase that was just started, up to `polls` times; `progress_text` is what the process
// label shows on every poll. The pump of each poll is where a stop can arrive.
template <typename ProgressText>
PollEnd PollErase(FlashContext& ctx, int polls, ProgressText progress_text) {
  for (int poll = 0; poll < polls; ++poll) {
    const std::uint8_t status = StatusForWait(ctx.link);
    ctx.progress.ProcessText(progress_text(poll));
    ctx.progress.StatusText(texts::StatusRegister(status));
    ctx.progress.Pump();
    if (!IsBusy(status)) return PollEnd::Idle;
    if (ctx.progress.StopRequested()) return PollEnd::Stopped;
    ctx.link.sleeper.SleepMs(kStatusPollPauseMs);
  }
  return PollEnd::Failed;
}

// The part must read idle before an erase is given: a busy part ignores it, and a wait that
// ended on a corrupted status byte would let that pass unseen. Normally the first read finds it
// idle and nothing is shown; while it stays busy the status label shows it and each poll pumps,
// so a stop still arrives.
PollEnd AwaitIdle(FlashContext& ctx) {
  for (int poll = 0; poll < kStatusPolls; ++poll) {
    const std::uint8_t status = StatusForWait(ctx.link);
    if (!IsBusy(status)) return PollEnd::Idle;
    ctx.progress.StatusText(texts::StatusRegister(status));
    ctx.progress.Pump();
    if (ctx.progress.StopRequested()) return PollEnd::Stopped;
    ctx.link.sleeper.SleepMs(kStatusPollPauseMs);
  }
  return PollEnd::Failed;
}

// Starts one erase with its write enable once the part reads idle. Failed when it stayed busy or
// a request failed (the erase may not have been given).
template <typename SendErase>
PollEnd StartErase(FlashContext& ctx, SendErase send_erase) {
  const PollEnd idle = AwaitIdle(ctx);
  if (idle != PollEnd::Idle) return idle;
  if (!FlashWriteEnable(ctx.link) || !send_erase()) return PollEnd::Failed;
  ctx.link.sleeper.SleepMs(kAfterEraseCommandMs);
  return PollEnd::Idle;
}

PollEnd EraseChip(FlashContext& ctx, const ChipIdBytes& chip_id) {
  ctx.progress.ProcessText(texts::kEraseAll);
  const PollEnd started = StartErase(ctx, [&] { return FlashChipErase(ctx.link); });
  if (started != PollEnd::Idle) return started;
  return PollErase(ctx, ChipErasePolls(chip_id),
                   [](int poll) { return texts::EraseAllProgress(poll); });
}

PollEnd EraseSector(FlashContext& ctx, std::uint32_t address) {
  if (ctx.progress.StopRequested()) return PollEnd::Stopped;
  ctx.progress.Reached(address);
  const PollEnd started = StartErase(ctx, [&] { return FlashSectorErase(ctx.link, address); });
  if (started != PollEnd::Idle) return started;
  return PollErase(ctx, kStatusPolls,
                   [address](int) { return texts::SectorEraseProgress(address); });
}

// The first sector that fails ends the erase: its failure decides the run, and the sectors after
// it would go to a part that may still be busy.
PollEnd EraseSectors(FlashContext& ctx, const FlashExtent& extent) {
  ctx.progress.ProcessText(texts::kSectorErase);
  for (std::uint64_t a = extent.start; a < extent.end; a += kSectorSize) {
    const PollEnd end = EraseSector(ctx, static_cast<std::uint32_t>(a));
    if (end != PollEnd::Idle) return end;
  }
  return PollEnd::Idle;
}

// The end of an erase in words: none on success, else why it ended.
bool Finish(FlashContext& ctx, PollEnd end) {
  switch (end) {
    case PollEnd::Idle:
      return true;
    case PollEnd::Stopped:
      ctx.progress.ProcessText(texts::kStopped);
      return false;
    case PollEnd::Failed:
      ctx.progress.ProcessText(texts::kEraseFail);
      return false;
  }
  return false;
}

}  // namespace

std::optional<std::string> SectorEraseRefusal(const FlashRange& range, const ChipIdBytes& chip_id) {
  if (range.choice == RangeChoice::All) return std::nullopt;
  const FlashExtent sectors = EraseExtent(range);
  // A sector address past the part would arrive cut to its size and erase a low sector instead.
  if (!sectors.WithinFlash()) return texts::RangeBeyondFlash(kFlashAddressLimit);
  const std::uint64_t capacity = FlashCapacityFor(chip_id);
  if (!sectors.Within(capacity)) return texts::RangeBeyondFlash(capacity);
  if (!SectorAligned(range)) return texts::kUnalignedRange;
  return std::nullopt;
}

bool EraseFlash(FlashContext& ctx, const FlashRange& range, const ChipIdBytes& chip_id) {
  if (const auto refusal = SectorEraseRefusal(range, chip_id)) {
    ctx.progress.ProcessText(*refusal);
    return false;
  }
  ctx.link.usb.Open();
  const PollEnd end = range.choice == RangeChoice::All ? EraseChip(ctx, chip_id)
                                                       : EraseSectors(ctx, EraseExtent(range));
  ctx.link.usb.Close();
  return Finish(ctx, end);
}

bool EraseSectorList(FlashContext& ctx, std::span<const std::uint32_t> sectors) {
  if (sectors.empty()) return true;
  ctx.link.usb.Open();
  ctx.progress.ProcessText(texts::kSectorErase);
  PollEnd end = PollEnd::Idle;
  for (std::uint32_t address : sectors) {
    end = EraseSector(ctx, address);
    if (end != PollEnd::Idle) break;
  }
  ctx.link.usb.Close();
  return Finish(ctx, end);
}

}  // namespace velmora
