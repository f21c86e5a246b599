// read-back: the window's "Read Flash", with ISP mode around it and the file named on the
// command line. The file is written whatever the reading found, as the window offers it.
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

int RunReadBack(CliContext& ctx, const ReadBackArguments& args) {
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

  const FileWriteResult written = WriteFileAtomically(args.out, buffer);
  if (!written.ok) return Fail(ctx, kExitStepFailed, written.error);
  ctx.env.out << "Wrote " << buffer.size() << " bytes to " << args.out << '\n';
  ctx.report["file"] = {{"name", args.out}, {"length", buffer.size()}};
  PrintVerdict(ctx, consistent ? "success" : "failed", progress.LastText());
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
      "when a chunk did not read the same (the file is written all the same)");
  command->add_option("OUT", o->args.out, "File to write")->required()->type_name("");
  command->add_flag("--no-isp-mode", o->no_isp_mode, "Do not enter or leave ISP mode");
  AddDeviceIds(command, run.options);
  command->callback([o, &run] {
    o->args.isp_mode = !o->no_isp_mode;
    run.code = RunReadBack(run.ctx, o->args);
  });
}

}  // namespace velmora::cli
