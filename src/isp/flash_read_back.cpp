// The read-back: every chunk read twice and compared, so a flaky link cannot hand a corrupted
// copy of the flash to the file.
#include <algorithm>
#include <array>

#include "flash_engine.h"
#include "flash_status.h"
#include "flash_texts.h"
#include "preflight.h"

namespace velmora {

// With no part on the bus every chunk reads FF (or 00) the same twice, and a busy part answers
// its status byte for every byte: neither may pass for a copy of the flash.
bool FlashPartReadable(FlashContext& ctx) {
  ChipIdBytes id{};
  bool answered = FlashReadId(ctx.link, id) && !NoFlashAnswers(id);
  // A busy part ignores the identifier command too, so its bus floats like an empty socket's;
  // its status register tells the two apart (an empty socket reads all ones there as well).
  const std::optional<std::uint8_t> status = ReadStatusChecked(ctx.link);
  const bool busy = status && IsBusy(*status) && *status != 0xFF;
  if (!answered && !busy) {
    ctx.progress.ProcessText(texts::kNoFlash + ChipIdText(id));
    return false;
  }
  if (!WaitUntilIdle(ctx.link, ChipErasePolls(answered ? id : ChipIdBytes{}))) {
    ctx.progress.ProcessText(texts::kFlashBusy);
    return false;
  }
  if (!answered && !(FlashReadId(ctx.link, id) && !NoFlashAnswers(id))) {
    ctx.progress.ProcessText(texts::kNoFlash + ChipIdText(id));
    return false;
  }
  return true;
}

bool ReadBackRange(FlashContext& ctx, std::uint32_t start, std::uint32_t end,
                   std::span<std::uint8_t> buffer) {
  if (start > end || end > buffer.size()) return false;
  std::fill(buffer.begin() + start, buffer.begin() + end, kReadBackFill);

  std::array<std::uint8_t, kReadChunkSize> first{};
  std::array<std::uint8_t, kReadChunkSize> second{};
  int failures = 0;
  std::uint32_t a = start;
  while (a < end) {
    if (StopShown(ctx.progress)) return false;
    first.fill(0);
    std::uint32_t p = 0;
    if (FlashRead(ctx.link, a, kReadChunkSize, first.data())) {
      const std::uint32_t kept = std::min(kReadChunkSize, end - a);
      std::copy_n(first.begin(), kept, buffer.begin() + a);
      // A second read that fails confirms nothing: it counts like a mismatch at the chunk start.
      if (FlashRead(ctx.link, a, kReadChunkSize, second.data())) {
        while (p < kReadChunkSize && first[p] == second[p]) ++p;
      }
      failures = p < kReadChunkSize ? failures + 1 : 0;
      ctx.progress.AddressText(texts::WithAddress(texts::kVerifyAddr, a));
      ctx.progress.Reached(a);
      ctx.progress.Pump();
    } else {
      ++failures;
    }
    if (failures >= kChunkAttempts) {
      ctx.progress.ProcessText(texts::WithAddress(texts::kVerifyFail, a + p));
      return false;
    }
    if (failures == 0) a += kReadChunkSize;
  }
  return true;
}

bool ReadFlashBack(FlashContext& ctx, std::span<std::uint8_t> buffer) {
  ctx.progress.ProcessText(texts::kReadBackStart);
  if (buffer.size() < kReadBackEnd) return false;
  std::fill_n(buffer.begin(), kReadBackEnd, kReadBackFill);
  ctx.link.usb.Open();
  const bool ok = FlashPartReadable(ctx) && ReadBackRange(ctx, 0, kReadBackEnd, buffer);
  if (ok) ctx.progress.ProcessText(texts::kReadBackSuccess);
  ctx.link.usb.Close();
  return ok;
}

}  // namespace velmora
