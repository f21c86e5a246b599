#include "auto_sequence.h"

#include <algorithm>

#include "flash_status.h"
#include "flash_texts.h"

namespace velmora {
namespace {

bool ErasesSectors(const AutoSteps& steps, const FlashRange& range) {
  return steps.erase && range.choice == RangeChoice::AssignRange;
}

// The run's failure state and its label: the first failure's text stays, as it names the cause.
class RunState {
 public:
  RunState(FlashProgress& progress, AutoOutcome& outcome)
      : progress_(progress), outcome_(outcome) {}
  bool Failed() const { return outcome_.step_failed; }
  // A step that failed and has already shown why.
  void StepFailed() { outcome_.step_failed = true; }
  // A failure that shows `text` unless an earlier failure has already said why.
  void Fail(const std::string& text) {
    if (!outcome_.step_failed) progress_.ProcessText(text);
    outcome_.step_failed = true;
  }

 private:
  FlashProgress& progress_;
  AutoOutcome& outcome_;
};

// Clears the status register for the erase; false when its block-protect bits did not read back
// clear (a protected part silently refuses to erase). `status` gets what was read back.
bool ClearStatus(ChipLink& link, std::optional<std::uint8_t>& status) {
  FlashReadStatus(link);  // read once, its value unused, as the sequence always has
  status = WriteStatusAndWait(link, 0x00);
  return status && (*status & kAllBlockProtectBits) == 0;
}

// Writes 0xFF to the status register; true when the part then reads idle with every
// block-protect bit set. `idle` says whether the part was seen idle before: when it was not, the
// write still goes out (only the status reads may be failing) but cannot be confirmed. `status`
// gets what was read back (nothing when unconfirmed).
bool Protect(ChipLink& link, const ChipIdBytes& chip_id, bool idle,
             std::optional<std::uint8_t>& status) {
  status.reset();
  if (!idle) {
    FlashWriteEnable(link);
    FlashWriteStatus(link, 0xFF);
    return false;
  }
  const std::uint8_t bits = BlockProtectBitsFor(chip_id);
  status = WriteStatusAndWait(link, 0xFF);
  return status && (*status & bits) == bits;
}

// Runs one step between the observer's start and end notices; returns the step's result.
class StepNotices {
 public:
  explicit StepNotices(AutoStepObserver* observer) : observer_(observer) {}
  template <typename Body>
  bool Run(AutoStep step, Body body) {
    if (observer_ != nullptr) observer_->StepStarted(step);
    const bool ok = body();
    if (observer_ != nullptr) observer_->StepEnded(step, ok);
    return ok;
  }

 private:
  AutoStepObserver* observer_;
};

}  // namespace

std::optional<std::string> AutoRefusal(const AutoSteps& steps, const FlashRange& range,
                                       const ProgramImage& image, AutoProfile profile) {
  if (image.length == 0) return texts::kProgramFileEmpty;
  if (profile == AutoProfile::ChangedOnly && !(steps.erase && steps.program && steps.verify)) {
    return texts::kChangedOnlySteps;
  }
  // Higher addresses would be cut to 24 bits and land on the low flash.
  if (!ImageExtent(range, image.length).WithinFlash()) {
    return texts::RangeBeyondFlash(kFlashAddressLimit);
  }
  if (ErasesSectors(steps, range)) {
    if (!EraseExtent(range).WithinFlash()) return texts::RangeBeyondFlash(kFlashAddressLimit);
    if (!SectorAligned(range)) return texts::kUnalignedRange;
    // Past the erased range the flash is not blank: the blank check would fail there once the
    // range had been erased, leaving the board without firmware.
    if (image.length > range.range_size) {
      return "Image longer than the range: " + std::to_string(image.length) + " bytes, range " +
             std::to_string(range.range_size / 1024) + " KB";
    }
  }
  return std::nullopt;
}

const char* AutoProfileName(AutoProfile profile) {
  switch (profile) {
    case AutoProfile::Design:
      return "design";
    case AutoProfile::Fast:
      return "fast";
    case AutoProfile::ChangedOnly:
      return "changed-only";
  }
  return "";
}

AutoSteps StepsFor(AutoProfile profile, const AutoSteps& ticked) {
  AutoSteps steps = ticked;
  if (profile != AutoProfile::Design && steps.verify) steps.blank = false;
  return steps;
}

AutoOutcome RunAutoSequence(FlashContext& ctx, const AutoSteps& ticked, const FlashRange& range,
                            const ProgramImage& image, ChipIdBytes& chip_id,
                            AutoStepObserver* observer, AutoProfile profile) {
  const AutoSteps steps = StepsFor(profile, ticked);
  const bool design = profile == AutoProfile::Design;
  const bool changed_only = profile == AutoProfile::ChangedOnly;
  const std::uint32_t chunk = design ? kReadChunkSize : kLongReadSize;
  const PagePace pace = design ? PagePace::Design : PagePace::Confirmed;
  AutoOutcome outcome;
  FlashProgress& progress = ctx.progress;
  RunState run(progress, outcome);
  StepNotices step(observer);
  if (const auto refusal = AutoRefusal(ticked, range, image, profile)) {
    run.Fail(*refusal);
    return outcome;
  }
  const FlashExtent extent = ImageExtent(range, image.length);
  const auto start = static_cast<std::uint32_t>(extent.start);
  const auto end = static_cast<std::uint32_t>(extent.end);
  const std::uint32_t base = range.ImageBase();

  progress.ProcessText(texts::kEnterIspMode);
  progress.Pump();
  if (StopShown(progress)) run.StepFailed();

  ctx.link.usb.Open();
  if (steps.isp_mode) step.Run(AutoStep::EnterIsp, [&] { return IspEnter(ctx.link); });
  step.Run(AutoStep::ReadId, [&] { return FlashReadId(ctx.link, chip_id); });
  outcome.page_size = PageSizeFor(chip_id);

  // Past the part's real end the addresses wrap onto its low flash.
  const std::uint64_t capacity = FlashCapacityFor(chip_id);
  const bool past_end = !extent.Within(capacity) ||
                        (ErasesSectors(steps, range) && !EraseExtent(range).Within(capacity));
  if (past_end) run.Fail(texts::RangeBeyondFlash(capacity));

  // A part still busy from an earlier, cut-short run ignores the status clear and the erase:
  // give it the time a chip erase may take before anything is sent to it.
  // A status read that fails says nothing here; the steps find out on their own.
  const bool touches_flash =
      steps.erase || steps.blank || steps.program || steps.verify || steps.protect;
  if (touches_flash && !run.Failed()) {
    const std::optional<std::uint8_t> status = ReadStatusChecked(ctx.link);
    if (status && IsBusy(*status) && !WaitUntilIdle(ctx.link, ChipErasePolls(chip_id))) {
      run.Fail(texts::kFlashBusy);
    }
  }

  std::vector<std::uint32_t>& changed = outcome.sectors_changed;
  if (changed_only && !run.Failed()) {
    const auto sectors_end = static_cast<std::uint32_t>(SectorEnd(end));
    outcome.sectors_compared = (sectors_end - start) / kSectorSize;
    progress.ProcessText(texts::kStartCompare);
    if (step.Run(AutoStep::Compare, [&] {
          auto found = FindChangedSectors(ctx, image, base, start, sectors_end);
          if (found) changed = std::move(*found);
          return found.has_value();
        })) {
      progress.ProcessText(texts::SectorsToRewrite(changed.size(), outcome.sectors_compared));
    } else {
      run.StepFailed();
    }
  }

  // Nothing to erase when every sector of the image already reads right.
  if (steps.erase && !run.Failed() && !(changed_only && changed.empty())) {
    progress.ProcessText(texts::kClearStatus);
    if (!step.Run(AutoStep::ClearStatus,
                  [&] { return ClearStatus(ctx.link, outcome.last_status); })) {
      run.Fail(texts::kClearStatusFail);
    } else if (!step.Run(AutoStep::Erase, [&] {
                 return changed_only ? EraseSectorList(ctx, changed)
                                     : EraseFlash(ctx, range, chip_id);
               })) {
      run.StepFailed();
    }
  }

  ctx.link.usb.Open();
  // One pass of blank check, programming or verify, run only while nothing has failed.
  auto run_step = [&](bool ticked, AutoStep which, const char* start_text, const char* success_text,
                      auto pass) {
    if (!ticked || run.Failed()) return;
    progress.ProcessText(start_text);
    if (step.Run(which, pass)) {
      progress.ProcessText(success_text);
    } else {
      run.StepFailed();
    }
  };
  run_step(steps.blank, AutoStep::BlankCheck, texts::kStartBlank, texts::kBlankSuccess,
           [&] { return BlankCheckRange(ctx, start, end, chunk); });
  run_step(steps.program, AutoStep::Program, texts::kStartProgramAuto, texts::kProgramSuccess, [&] {
    if (!changed_only) {
      return ProgramRange(ctx, image, base, outcome.page_size, start, end, pace);
    }
    for (std::uint32_t sector : changed) {
      const auto to = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(std::uint64_t{sector} + kSectorSize, end));
      if (!ProgramRange(ctx, image, base, outcome.page_size, sector, to, pace)) {
        return false;
      }
    }
    return true;
  });
  run_step(steps.verify, AutoStep::Verify, texts::kStartVerify, texts::kVerifySuccess,
           [&] { return VerifyRange(ctx, image, base, start, end, chunk); });

  outcome.stopped = run.Failed() && progress.StopRequested();
  if (steps.protect) {
    // After a failed step an erase or a page may still be running, and a busy part ignores the
    // status write.
    const bool protected_ok = step.Run(AutoStep::Protect, [&] {
      const bool idle =
          !run.Failed() || WaitUntilIdle(ctx.link, ChipErasePolls(chip_id)).has_value();
      return Protect(ctx.link, chip_id, idle, outcome.last_status);
    });
    if (!protected_ok) run.Fail(texts::kProtectFail);
  }
  if (steps.isp_mode && !step.Run(AutoStep::ExitIsp, [&] { return IspExit(ctx.link); })) {
    run.Fail(texts::kExitIspFail);
  }
  ctx.link.usb.Close();
  return outcome;
}

}  // namespace velmora
