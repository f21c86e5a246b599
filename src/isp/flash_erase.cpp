// Status writes and the two kinds of erase, each polled on the status register's busy bit.
#include "flash_engine.h"
#include "flash_texts.h"

namespace velmora {
namespace {

constexpr int kStatusPolls = 1000;
constexpr unsigned kStatusPollPauseMs = 10;
constexpr unsigned kAfterEraseCommandMs = 10;

bool Busy(std::uint8_t status) {
  return (status & 0x01) != 0;
}

enum class PollEnd { Idle, TimedOut, Stopped };

// Polls an erase that was just started; `progress_text` is what the process label shows on
// every poll. The pump of each poll is where a stop can arrive.
template <typename ProgressText>
PollEnd PollErase(FlashContext& ctx, ProgressText progress_text) {
  for (int poll = 0; poll < kStatusPolls; ++poll) {
    const std::uint8_t status = FlashReadStatus(ctx.link);
    ctx.progress.ProcessText(progress_text(poll));
    ctx.progress.StatusText(texts::StatusRegister(status));
    ctx.progress.Pump();
    if (!Busy(status)) return PollEnd::Idle;
    if (ctx.progress.StopRequested()) return PollEnd::Stopped;
    ctx.link.sleeper.SleepMs(kStatusPollPauseMs);
  }
  return PollEnd::TimedOut;
}

PollEnd EraseChip(FlashContext& ctx) {
  ctx.progress.ProcessText(texts::kEraseAll);
  FlashWriteEnable(ctx.link);
  FlashChipErase(ctx.link);
  ctx.link.sleeper.SleepMs(kAfterEraseCommandMs);
  return PollErase(ctx, [](int poll) { return texts::EraseAllProgress(poll); });
}

// Every sector counts: one that stayed busy makes the erase fail even when later ones finish.
PollEnd EraseSectors(FlashContext& ctx, const FlashExtent& extent) {
  ctx.progress.ProcessText(texts::kSectorErase);
  PollEnd worst = PollEnd::Idle;
  for (std::uint64_t a = extent.start; a < extent.end; a += kSectorSize) {
    if (ctx.progress.StopRequested()) return PollEnd::Stopped;
    const auto address = static_cast<std::uint32_t>(a);
    FlashWriteEnable(ctx.link);
    FlashSectorErase(ctx.link, address);
    ctx.link.sleeper.SleepMs(kAfterEraseCommandMs);
    const PollEnd end =
        PollErase(ctx, [address](int) { return texts::SectorEraseProgress(address); });
    if (end == PollEnd::Stopped) return end;
    if (end == PollEnd::TimedOut) worst = end;
  }
  return worst;
}

}  // namespace

bool WaitWhileBusy(ChipLink& link) {
  for (int poll = 0; poll < kStatusPolls; ++poll) {
    if (!Busy(FlashReadStatus(link))) return true;
    link.sleeper.SleepMs(kStatusPollPauseMs);
  }
  return false;
}

void WriteStatusAndWait(ChipLink& link, std::uint8_t value) {
  FlashWriteEnable(link);
  FlashWriteStatus(link, value);
  WaitWhileBusy(link);
}

bool EraseFlash(FlashContext& ctx, const FlashRange& range) {
  const bool all = range.choice == RangeChoice::All;
  const FlashExtent sectors = EraseExtent(range);
  // A sector address past 24 bits would arrive truncated and erase a low sector instead.
  if (!all && !sectors.WithinFlash()) {
    ctx.progress.ProcessText(texts::kRangeBeyondFlash);
    return false;
  }
  ctx.link.usb.Open();
  const PollEnd end = all ? EraseChip(ctx) : EraseSectors(ctx, sectors);
  ctx.link.usb.Close();
  switch (end) {
    case PollEnd::Idle:
      return true;
    case PollEnd::Stopped:
      ctx.progress.ProcessText(texts::kStopped);
      return false;
    case PollEnd::TimedOut:
      ctx.progress.ProcessText(texts::kEraseFail);
      return false;
  }
  return false;
}

}  // namespace velmora
