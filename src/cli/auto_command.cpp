// auto: the window's Auto run from the command line. The file, the range and the part are
// checked before anything is written; the run itself is the window's (RunAutoSequence), with
// one progress bar per pass, a stop on Ctrl-C, and the first wrong bytes explained when a check
// fails.
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "arguments.h"
#include "cli_options.h"
#include "commands.h"
#include "console_progress.h"
#include "exit_codes.h"
#include "flash_texts.h"
#include "mismatch_report.h"
#include "preflight.h"
#include "program_file.h"

namespace velmora::cli {
namespace {

constexpr std::array kAllSteps{AutoStep::EnterIsp,    AutoStep::ReadId, AutoStep::Compare,
                               AutoStep::ClearStatus, AutoStep::Erase,  AutoStep::BlankCheck,
                               AutoStep::Program,     AutoStep::Verify, AutoStep::Protect,
                               AutoStep::ExitIsp};

const char* StepName(AutoStep step) {
  switch (step) {
    case AutoStep::EnterIsp:
      return "enter_isp";
    case AutoStep::ReadId:
      return "read_id";
    case AutoStep::Compare:
      return "compare";
    case AutoStep::ClearStatus:
      return "clear_status";
    case AutoStep::Erase:
      return "erase";
    case AutoStep::BlankCheck:
      return "blank_check";
    case AutoStep::Program:
      return "program";
    case AutoStep::Verify:
      return "verify";
    case AutoStep::Protect:
      return "protect";
    case AutoStep::ExitIsp:
      return "exit_isp";
  }
  return "";
}

bool Ticked(const AutoSteps& steps, AutoProfile profile, AutoStep step) {
  switch (step) {
    case AutoStep::Compare:
      return profile == AutoProfile::ChangedOnly;
    case AutoStep::EnterIsp:
    case AutoStep::ExitIsp:
      return steps.isp_mode;
    case AutoStep::ReadId:
      return true;
    case AutoStep::ClearStatus:
    case AutoStep::Erase:
      return steps.erase;
    case AutoStep::BlankCheck:
      return steps.blank;
    case AutoStep::Program:
      return steps.program;
    case AutoStep::Verify:
      return steps.verify;
    case AutoStep::Protect:
      return steps.protect;
  }
  return false;
}

// Times each step of the run, gives the passes over the flash their bars, and keeps the
// outcomes for the verdict and the report.
class StepRecorder final : public AutoStepObserver {
 public:
  StepRecorder(ConsoleProgress& progress, const FlashRange& range, const FlashExtent& extent)
      : progress_(progress), range_(range), extent_(extent) {}

  void StepStarted(AutoStep step) override {
    began_ = Clock::now();
    switch (step) {
      case AutoStep::Erase:
        if (range_.choice == RangeChoice::All) {
          progress_.BeginPass(0, 0);  // a chip erase: only its time
        } else {
          progress_.BeginPass(range_.range_start, range_.range_start + range_.range_size);
        }
        break;
      case AutoStep::Compare:
        progress_.BeginPass(static_cast<std::uint32_t>(extent_.start),
                            static_cast<std::uint32_t>(SectorEnd(extent_.end)));
        break;
      case AutoStep::BlankCheck:
      case AutoStep::Program:
      case AutoStep::Verify:
        progress_.BeginPass(static_cast<std::uint32_t>(extent_.start),
                            static_cast<std::uint32_t>(extent_.end));
        break;
      default:
        break;
    }
  }

  void StepEnded(AutoStep step, bool ok) override {
    double seconds = std::chrono::duration<double>(Clock::now() - began_).count();
    if (HasPass(step)) seconds = progress_.EndPass(ok);
    const bool stopped = !ok && progress_.LastText() == texts::kStopped;
    ended_[Index(step)] = Ended{true, ok ? "ok" : stopped ? "stopped" : "failed", seconds};
  }

  bool Ran(AutoStep step) const { return ended_[Index(step)].ran; }
  bool Failed(AutoStep step) const { return Ran(step) && ended_[Index(step)].outcome == "failed"; }
  bool Succeeded(AutoStep step) const { return Ran(step) && ended_[Index(step)].outcome == "ok"; }

  // Every step in its order: its outcome ("ok", "failed", "stopped"; "skipped" when ticked but
  // not reached after a failure or a stop, or with nothing to do; "off" when unticked) and its
  // duration. The comparison is listed only for the profile that makes it.
  nlohmann::ordered_json Report(const AutoSteps& steps, AutoProfile profile) const {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (AutoStep step : kAllSteps) {
      if (step == AutoStep::Compare && profile != AutoProfile::ChangedOnly) continue;
      const Ended& e = ended_[Index(step)];
      nlohmann::ordered_json entry{{"step", StepName(step)}};
      entry["outcome"] = e.ran ? e.outcome : Ticked(steps, profile, step) ? "skipped" : "off";
      if (e.ran) entry["seconds"] = std::round(e.seconds * 1000) / 1000;  // to the millisecond
      list.push_back(entry);
    }
    return list;
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Ended {
    bool ran = false;
    std::string outcome;
    double seconds = 0;
  };
  static std::size_t Index(AutoStep step) { return static_cast<std::size_t>(step); }
  static bool HasPass(AutoStep step) {
    return step == AutoStep::Compare || step == AutoStep::Erase || step == AutoStep::BlankCheck ||
           step == AutoStep::Program || step == AutoStep::Verify;
  }

  ConsoleProgress& progress_;
  const FlashRange range_;
  const FlashExtent extent_;
  Clock::time_point began_{};
  std::array<Ended, kAllSteps.size()> ended_{};
};

// After a failed blank check or verify: the first wrong bytes and which way their bits are
// wrong, read in an ISP session of their own once the run has ended.
void ExplainMismatches(CliContext& ctx, const AutoSteps& steps, const FlashRange& range,
                       const ProgramImage& image, const FlashExtent& extent, bool blank) {
  ChipLink& link = ctx.bench->Link();
  const std::uint32_t base = range.ImageBase();
  const MismatchReport found = InIspSession(link, steps.isp_mode, [&] {
    return FindMismatches(link, static_cast<std::uint32_t>(extent.start),
                          static_cast<std::uint32_t>(extent.end), [&](std::uint32_t address) {
                            return blank ? std::uint8_t{0xFF} : ImageByteAt(image, base, address);
                          });
  });
  ctx.env.out << (blank ? "Blank check" : "Verify") << " mismatches (first " << kMismatchesShown
              << "):\n";
  for (const std::string& line : DescribeMismatches(found)) ctx.env.out << "  " << line << '\n';

  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const ByteMismatch& m : found.first) {
    list.push_back({{"address", HexText(m.address, 6)},
                    {"expected", HexText(m.expected, 2)},
                    {"actual", HexText(m.actual, 2)}});
  }
  ctx.report["mismatches"] = list;
  ctx.report["mismatch_explained"] = DescribeMismatches(found);
}

// "flash protected, ISP mode left": what the end of the run did, so a stopped or failed run
// still says the part was left safe.
std::string Aftermath(const StepRecorder& recorder) {
  std::string words;
  if (recorder.Ran(AutoStep::Protect)) {
    words = recorder.Succeeded(AutoStep::Protect) ? "flash protected" : "flash NOT protected";
  }
  if (recorder.Ran(AutoStep::ExitIsp)) {
    if (!words.empty()) words += ", ";
    words += recorder.Succeeded(AutoStep::ExitIsp) ? "ISP mode left" : "ISP mode NOT left";
  }
  return words;
}

struct AutoArguments {
  std::string file;
  std::string range;  // "START_KB:SIZE_KB", or "" for the whole flash
  AutoSteps steps;
  AutoProfile profile = AutoProfile::Design;
};

int RunAuto(CliContext& ctx, const AutoArguments& args) {
  const auto run_began = std::chrono::steady_clock::now();
  if (const auto code = RefuseBadOutputs(ctx, {{args.file, "the program file"}})) return *code;
  // The file first: a bad one ends the run before the device is looked at.
  ProgramImage image;
  const ImageLoadResult loaded = LoadProgramFile(args.file, image);
  ctx.report["file"]["name"] = args.file;
  if (!loaded.ok) return Refuse(ctx, loaded.message);
  ctx.report["file"]["length"] = image.length;
  ctx.report["file"]["checksum"] = HexText(loaded.checksum, 4);
  ctx.env.out << args.file << ": length 0x" << texts::Hex(image.length, 5) << ", "
              << ChecksumLabelText(loaded.checksum) << '\n';
  if (!loaded.note.empty()) ctx.env.out << loaded.note << '\n';

  FlashRange range;
  if (!args.range.empty()) range = ParseRange(args.range).value_or(FlashRange{});
  ctx.report["range"] = {{"choice", range.choice == RangeChoice::All ? "all" : "assign"},
                         {"start", range.range_start},
                         {"size", range.range_size}};
  ctx.report["profile"] = AutoProfileName(args.profile);
  if (const auto refusal = AutoRefusal(args.steps, range, image, args.profile)) {
    return Refuse(ctx, *refusal);
  }

  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  ChipLink& link = ctx.bench->Link();

  // Pre-flight: the part must answer and hold the image before anything is erased.
  const PartState before = ReadPartState(link, args.steps.isp_mode);
  ctx.report["jedec_id"] = ChipIdText(before.id);
  ctx.report["status_before"] =
      before.status ? nlohmann::ordered_json(HexText(*before.status, 2)) : nlohmann::ordered_json();
  ctx.env.out << "JEDEC id " << ChipIdText(before.id) << ", status register "
              << (before.status ? HexText(*before.status, 2) : "not read") << '\n';
  // "All" erases the whole part: the range as used is its capacity.
  if (range.choice == RangeChoice::All && !NoFlashAnswers(before.id)) {
    ctx.report["range"]["size"] = FlashCapacityFor(before.id);
  }
  if (before.stayed_busy) return Refuse(ctx, texts::kFlashBusy);
  if (const auto refusal = PreflightRefusal(before.id, args.steps, range, image)) {
    return Refuse(ctx, *refusal);
  }

  ConsoleProgress progress(ctx.env.out, ctx.env.out_is_terminal, ctx.env.interrupted,
                           "Ctrl-C: stopping at the next chunk, page or poll; the flash protect "
                           "and the ISP exit still run");
  if (progress.StopRequested()) {  // nothing has been written yet: leave the part as it is
    ctx.report["verdict"] = "stopped";
    PrintVerdict(ctx, "stopped", texts::kStopped);
    return kExitStepFailed;
  }
  const FlashExtent extent = ImageExtent(range, image.length);
  StepRecorder recorder(progress, range, extent);
  FlashContext flash{link, progress};
  ChipIdBytes chip_id{};
  const AutoOutcome outcome =
      RunAutoSequence(flash, args.steps, range, image, chip_id, &recorder, args.profile);
  progress.FinishLine();

  ctx.report["steps"] = recorder.Report(StepsFor(args.profile, args.steps), args.profile);
  if (args.profile == AutoProfile::ChangedOnly) {
    nlohmann::ordered_json changed = nlohmann::ordered_json::array();
    for (std::uint32_t sector : outcome.sectors_changed) changed.push_back(HexText(sector, 6));
    ctx.report["sectors"] = {{"compared", outcome.sectors_compared},
                             {"rewritten", changed},
                             {"outside_the_image_sectors", "left as it was"}};
  }
  ctx.report["status_after"] = outcome.last_status
                                   ? nlohmann::ordered_json(HexText(*outcome.last_status, 2))
                                   : nlohmann::ordered_json();
  if (!outcome.stopped &&
      (recorder.Failed(AutoStep::Verify) || recorder.Failed(AutoStep::BlankCheck))) {
    ExplainMismatches(ctx, args.steps, range, image, extent, recorder.Failed(AutoStep::BlankCheck));
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - run_began).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.2f s", seconds);
  std::string words = progress.LastText();
  if (const char* signal = StopSignalName(ctx.env); outcome.stopped && signal != nullptr) {
    words += std::string(" (") + signal + ")";
  }
  const std::string aftermath = Aftermath(recorder);
  if (!aftermath.empty()) words += "; " + aftermath;
  if (outcome.stopped) ctx.report["verdict"] = "stopped";
  const char* verdict = !outcome.step_failed ? "success" : outcome.stopped ? "stopped" : "failed";
  PrintVerdict(ctx, verdict, words + " (" + took + ")");
  ctx.message = progress.LastText();
  return outcome.step_failed ? kExitStepFailed : kExitSuccess;
}

}  // namespace

void AddAutoCommand(CLI::App& app, CommandRun& run) {
  struct Options {
    AutoArguments args;
    StepSwitches switches;
    bool fast = false, changed_only = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "auto",
      "The Auto run: enter ISP mode, erase, blank check, program, verify, protect, "
      "leave ISP mode; refused before erasing when FILE is bad or does not fit the part");
  command->add_option("FILE", o->args.file, "Program file: .bin raw, .hex/.h00 Intel HEX")
      ->required()
      ->type_name("");
  command
      ->add_option("--range", o->args.range,
                   "Program at START_KB and erase SIZE_KB from there (4 KB sectors) instead of "
                   "erasing the whole chip")
      ->check(RangeText())
      ->type_name("START_KB:SIZE_KB");
  command->add_flag("--fast", o->fast,
                    "Fewer USB transfers for the same job: 255-byte reads, no blank check while "
                    "verifying (the verify proves every byte), one status read per page");
  command
      ->add_flag("--changed-only", o->changed_only,
                 "Read the image's 4 KB sectors, erase and program only those that differ, then "
                 "verify the whole image, as --fast does; flash outside the image's sectors is "
                 "left as it is, not erased")
      ->excludes("--fast");
  AddStepSwitches(command, o->switches);
  AddDeviceIds(command, run.options);
  AddExamples(command, {"velmora-isp auto firmware.hex",
                        "velmora-isp --log run.json auto firmware.hex --range 0:256"});
  command->callback([o, &run] {
    o->args.steps = o->switches.Steps();
    o->args.profile = o->changed_only ? AutoProfile::ChangedOnly
                      : o->fast       ? AutoProfile::Fast
                                      : AutoProfile::Design;
    run.code = RunAuto(run.ctx, o->args);
  });
}

}  // namespace velmora::cli
