// read-back: the window's "Read Flash", with ISP mode around it and the file named on the
// command line. Only a complete, consistent copy goes to OUT: what a failed or stopped reading
// got goes to a new file beside it, so an earlier good copy is never replaced by 0x5A filler.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "cli_options.h"
#include "commands.h"
#include "console_progress.h"
#include "exit_codes.h"
#include "flash_engine.h"
#include "flash_texts.h"
#include "preflight.h"

namespace velmora::cli {
namespace {

struct ReadBackArguments {
  std::string out;
  bool isp_mode = true;
  int start_kb = 0;                   // --start
  int size_kb = kReadBackEnd / 1024;  // --size
  bool range_given = false;           // --start or --size on the command line
};

// "OUT.partial", or "OUT.partial-2" and on when that name is taken.
std::string UnusedNameBeside(const std::string& out) {
  std::error_code error;
  std::string name = out + ".partial";
  for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(name, error)); ++n) {
    name = out + ".partial-" + std::to_string(n);
  }
  return name;
}

// A range of the user's own must lie on the part: reading on past its end would wrap round to
// its first bytes. The part's size comes from its identifier.
std::optional<std::string> BeyondThePart(CliContext& ctx, const ReadBackArguments& args) {
  if (!args.range_given) return std::nullopt;
  const PartState part = ReadPartState(ctx.bench->Link(), args.isp_mode);
  const std::uint64_t capacity = FlashCapacityFor(part.id);
  const std::uint64_t end = (std::uint64_t{1024} * args.start_kb) + 1024 * args.size_kb;
  if (end <= capacity) return std::nullopt;
  return "Read-back range " + std::to_string(args.start_kb) + " KB + " +
         std::to_string(args.size_kb) + " KB reaches past the part: " + ChipIdText(part.id) +
         " holds " + std::to_string(capacity / 1024) + " KiB";
}

int RunReadBack(CliContext& ctx, const ReadBackArguments& args) {
  if (const auto code = RefuseBadOutputs(ctx, {}, {{args.out, "the read-back file"}})) {
    return *code;
  }
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  if (const auto beyond = BeyondThePart(ctx, args)) return Refuse(ctx, *beyond);
  ChipLink& link = ctx.bench->Link();
  const std::uint32_t start = KilobytesToBytes(args.start_kb);
  const std::uint32_t end = start + KilobytesToBytes(args.size_kb);
  ctx.report["range"] = {{"start", start}, {"size", end - start}};
  ConsoleProgress progress(ctx.env.out, ctx.env.out_is_terminal, ctx.env.interrupted,
                           "Ctrl-C: stopping at the next chunk");
  FlashContext flash{link, progress};
  // Indexed by flash address; the file gets [start, end).
  std::vector<std::uint8_t> buffer(end, kReadBackFill);
  progress.BeginPass(start, end);
  // The window's button reads in whatever mode the chip is in; the flash answers only in ISP
  // mode, so the command enters it (unless told not to) and leaves it again.
  const bool consistent = InIspSession(link, args.isp_mode, [&] {
    progress.ProcessText(texts::kReadBackStart);
    const bool ok = FlashPartReadable(flash) && ReadBackRange(flash, start, end, buffer);
    if (ok) progress.ProcessText(texts::kReadBackSuccess);
    return ok;
  });
  progress.EndPass(consistent);
  progress.FinishLine();
  const bool stopped = !consistent && progress.StopRequested();
  std::string words = progress.LastText();
  if (const char* signal = StopSignalName(ctx.env); stopped && signal != nullptr) {
    words += std::string(" (") + signal + ")";
  }

  const std::span<const std::uint8_t> bytes = std::span(buffer).subspan(start);
  const bool nothing_read =
      std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == kReadBackFill; });
  if (!consistent && nothing_read) {
    ctx.env.out << args.out << " left as it was: nothing was read\n";
  } else {
    const std::string target = consistent ? args.out : UnusedNameBeside(args.out);
    const FileWriteResult written = WriteFileAtomically(target, bytes);
    if (!written.ok) {
      Fail(ctx, kExitStepFailed, written.error);
      PrintVerdict(ctx, "failed", written.error);
      return kExitStepFailed;
    }
    ctx.env.out << "Wrote " << bytes.size() << " bytes to " << target << '\n';
    if (!consistent) {
      ctx.env.out << "The reading did not complete: " << args.out
                  << " left as it was; what was read is in " << target
                  << " (0x5A where nothing was read)\n";
    }
    ctx.report["file"] = {{"name", target}, {"length", bytes.size()}, {"complete", consistent}};
  }
  if (stopped) ctx.report["verdict"] = "stopped";
  PrintVerdict(ctx, consistent ? "success" : stopped ? "stopped" : "failed", words);
  return consistent ? kExitSuccess : kExitStepFailed;
}

}  // namespace

void AddReadBackCommand(CLI::App& app, CommandRun& run) {
  struct Options {
    ReadBackArguments args;
    bool no_isp_mode = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "read-back",
      "Read the flash (the first 128 KiB unless --start/--size say otherwise), each chunk "
      "twice, into OUT.bin; exit 1 when no flash answers or a chunk did not read the same (what "
      "was read then goes to OUT.bin.partial, OUT.bin is left as it was)");
  command->add_option("OUT", o->args.out, "File to write")->required()->type_name("");
  // Within the 24-bit address space here; within the part once its identifier is read.
  const int max_kb = static_cast<int>(kFlashAddressLimit / 1024);
  command->add_option("--start", o->args.start_kb, "First kilobyte to read (default 0)")
      ->check(CLI::Range(0, max_kb - 1).description(""))
      ->type_name("KB");
  command->add_option("--size", o->args.size_kb, "Kilobytes to read (default 128)")
      ->check(CLI::Range(1, max_kb).description(""))
      ->type_name("KB");
  command->add_flag("--no-isp-mode", o->no_isp_mode, "Do not enter or leave ISP mode");
  AddDeviceIds(command, run.options);
  AddExamples(command, {"velmora-isp read-back flash.bin",
                        "velmora-isp read-back settings.bin --start 448 --size 64"});
  command->callback([o, command, &run] {
    o->args.isp_mode = !o->no_isp_mode;
    o->args.range_given = command->count("--start") + command->count("--size") > 0;
    run.code = RunReadBack(run.ctx, o->args);
  });
}

}  // namespace velmora::cli
