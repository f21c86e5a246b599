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
#include "preflight.h"

namespace velmora::cli {
namespace {

struct ReadBackArguments {
  std::string out;
  bool isp_mode = true;
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

int RunReadBack(CliContext& ctx, const ReadBackArguments& args) {
  if (const auto code = RefuseBadOutputs(ctx, {}, {{args.out, "the read-back file"}})) {
    return *code;
  }
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  ChipLink& link = ctx.bench->Link();
  ConsoleProgress progress(ctx.env.out, ctx.env.out_is_terminal, ctx.env.interrupted,
                           "Ctrl-C: stopping at the next chunk");
  FlashContext flash{link, progress};
  std::vector<std::uint8_t> buffer(kReadBackEnd);
  progress.BeginPass(0, kReadBackEnd);
  // The window's button reads in whatever mode the chip is in; the flash answers only in ISP
  // mode, so the command enters it (unless told not to) and leaves it again.
  const bool consistent =
      InIspSession(link, args.isp_mode, [&] { return ReadFlashBack(flash, buffer); });
  progress.EndPass(consistent);
  progress.FinishLine();
  const bool stopped = !consistent && progress.StopRequested();
  std::string words = progress.LastText();
  if (const char* signal = StopSignalName(ctx.env); stopped && signal != nullptr) {
    words += std::string(" (") + signal + ")";
  }

  const bool nothing_read =
      std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == kReadBackFill; });
  if (!consistent && nothing_read) {
    ctx.env.out << args.out << " left as it was: nothing was read\n";
  } else {
    const std::string target = consistent ? args.out : UnusedNameBeside(args.out);
    const FileWriteResult written = WriteFileAtomically(target, buffer);
    if (!written.ok) {
      Fail(ctx, kExitStepFailed, written.error);
      PrintVerdict(ctx, "failed", written.error);
      return kExitStepFailed;
    }
    ctx.env.out << "Wrote " << buffer.size() << " bytes to " << target << '\n';
    if (!consistent) {
      ctx.env.out << "The reading did not complete: " << args.out
                  << " left as it was; what was read is in " << target
                  << " (0x5A where nothing was read)\n";
    }
    ctx.report["file"] = {{"name", target}, {"length", buffer.size()}, {"complete", consistent}};
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
      "Read the first 128 KiB of the flash, each chunk twice, into OUT.bin; exit 1 "
      "when no flash answers or a chunk did not read the same (what was read then goes to "
      "OUT.bin.partial, OUT.bin is left as it was)");
  command->add_option("OUT", o->args.out, "File to write")->required()->type_name("");
  command->add_flag("--no-isp-mode", o->no_isp_mode, "Do not enter or leave ISP mode");
  AddDeviceIds(command, run.options);
  command->callback([o, &run] {
    o->args.isp_mode = !o->no_isp_mode;
    run.code = RunReadBack(run.ctx, o->args);
  });
}

}  // namespace velmora::cli
