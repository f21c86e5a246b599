#include "auto_sequence.h"

#include "flash_texts.h"

namespace velmora {
namespace {

// The image and the erased sectors must stay below 16 MiB: higher addresses would be cut to 24
// bits and land on the low flash.
bool RangeWithinFlash(const AutoSteps& steps, const FlashRange& range, const FlashExtent& extent) {
  const bool sectors = steps.erase && range.choice == RangeChoice::AssignRange;
  return extent.WithinFlash() && (!sectors || EraseExtent(range).WithinFlash());
}

}  // namespace

AutoOutcome RunAutoSequence(FlashContext& ctx, const AutoSteps& steps, const FlashRange& range,
                            const ProgramImage& image, ChipIdBytes& chip_id) {
  AutoOutcome outcome;
  FlashProgress& progress = ctx.progress;
  const FlashExtent extent = ImageExtent(range, image.length);
  if (!RangeWithinFlash(steps, range, extent)) {
    progress.ProcessText(texts::kRangeBeyondFlash);
    outcome.step_failed = true;
    return outcome;
  }
  const auto start = static_cast<std::uint32_t>(extent.start);
  const auto end = static_cast<std::uint32_t>(extent.end);
  const std::uint32_t base = range.ImageBase();

  progress.ProcessText(texts::kEnterIspMode);
  progress.Pump();
  if (StopShown(progress)) outcome.step_failed = true;

  ctx.link.usb.Open();
  if (steps.isp_mode) IspEnter(ctx.link);
  FlashReadId(ctx.link, chip_id);
  outcome.page_size = PageSizeFor(chip_id);

  if (steps.erase && !outcome.step_failed) {
    progress.ProcessText(texts::kClearStatus);
    FlashReadStatus(ctx.link);
    WriteStatusAndWait(ctx.link, 0x00);
    if (!EraseFlash(ctx, range)) outcome.step_failed = true;
  }

  ctx.link.usb.Open();
  // One pass of blank check, programming or verify, run only while nothing has failed.
  auto run_step = [&](bool ticked, const char* start_text, const char* success_text, auto pass) {
    if (!ticked || outcome.step_failed) return;
    progress.ProcessText(start_text);
    const bool ok = pass();
    outcome.step_failed = !ok;
    if (ok) progress.ProcessText(success_text);
  };
  run_step(steps.blank, texts::kStartBlank, texts::kBlankSuccess,
           [&] { return BlankCheckRange(ctx, start, end); });
  run_step(steps.program, texts::kStartProgramAuto, texts::kProgramSuccess,
           [&] { return ProgramRange(ctx, image, base, outcome.page_size, start, end); });
  run_step(steps.verify, texts::kStartVerify, texts::kVerifySuccess,
           [&] { return VerifyRange(ctx, image, base, start, end); });

  outcome.stopped = outcome.step_failed && progress.StopRequested();
  if (steps.protect) {
    // A stopped erase or page may still be running, and a busy flash ignores the status write.
    if (outcome.stopped) WaitWhileBusy(ctx.link);
    WriteStatusAndWait(ctx.link, 0xFF);
  }
  if (steps.isp_mode) IspExit(ctx.link);
  ctx.link.usb.Close();
  return outcome;
}

}  // namespace velmora
