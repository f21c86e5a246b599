#include "isp_cli.h"

#include <CLI/CLI.hpp>
#include <vector>

#include "cli_context.h"
#include "cli_options.h"
#include "command_line_help.h"
#include "commands.h"
#include "exit_codes.h"
#include "velmora_version.h"

namespace velmora::cli {
namespace {

// The options every command takes, before or after its name.
void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.fallthrough();
  app.set_version_flag("--version", std::string("velmora-isp ") + kVersion);
  CLI::Option* virtual_chip = app.add_flag(
      "--virtual", options.virtual_chip,
      "Work on the virtual chip (plugged in as 6ccf:6012, flash erased) instead of USB");
  app.add_option("--virtual-flash", options.virtual_flash,
                 "Keep the virtual chip's flash in FILE between runs (created erased if missing)")
      ->type_name("FILE")
      ->needs(virtual_chip);
  app.add_option("--virtual-id", options.virtual_id,
                 "JEDEC id of the virtual chip's flash (default C22013, 512 KiB)")
      ->check(JedecIdText())
      ->type_name("ID")
      ->needs(virtual_chip);
  app.add_option("--virtual-latency-us", options.virtual_latency_us,
                 "Time each USB transfer takes on the virtual chip's clock (default 0), as a real "
                 "device's 250 us does")
      ->type_name("N")
      ->needs(virtual_chip);
  app.add_option("--device", options.device,
                 "The device to work on, by its USB port path (1-4.2) as detect --list shows it; "
                 "needed when several match")
      ->type_name("PATH");
  app.add_flag("--verbose", options.verbose, "Print every USB request on stderr");
  app.add_flag("-q,--quiet", options.quiet,
               "Print only the verdict, or the values a command reads, on stdout");
  app.add_option("--log", options.log, "Write a JSON report of the run to FILE")->type_name("FILE");
}

// A file written after the verdict failed: a success becomes a failure, and a last verdict line
// says so, so that the last verdict printed and the exit code agree.
int LateFailure(CliContext& ctx, int code, const std::string& error) {
  ctx.env.err << error << '\n';
  if (code != kExitSuccess) return code;
  ctx.report["verdict"] = "failed";
  PrintVerdict(ctx, "failed", error);
  return kExitStepFailed;
}

// What is left to do once the command has run: keep the virtual chip's flash and write the
// report. A file that cannot be written turns a success into exit code 1.
int FinishRun(CliContext& ctx, int code) {
  if (const char* name = StopSignalName(ctx.env)) ctx.report["signal"] = name;
  UnmuteOutput(ctx);
  // Output that did not reach stdout (a full disk) is a failed run; a reader that went away
  // (`| head`) is not: the run was still done, as its report says.
  const bool reader_gone = ctx.env.out_reader_gone && ctx.env.out_reader_gone();
  if (!ctx.env.out.flush() && !reader_gone) {
    ctx.env.err << "Cannot write the output to stdout\n";
    ctx.message = "Cannot write the output to stdout";
    if (code == kExitSuccess) code = kExitStepFailed;
  }
  if (ctx.bench) {
    // The flash is kept whatever the command found: it is what the chip now holds.
    const FileWriteResult saved = ctx.bench->SaveVirtualFlash();
    if (!saved.ok) code = LateFailure(ctx, code, saved.error);
    if (ctx.env.virtual_chip_done && ctx.bench->VirtualChip() != nullptr) {
      ctx.env.virtual_chip_done(*ctx.bench->VirtualChip());
    }
  }
  if (!ctx.options.log.empty() && ctx.log_allowed) {
    ctx.report.Finish(code, ctx.message);
    const FileWriteResult written = ctx.report.WriteTo(ctx.options.log);
    // The report cannot say that it was not written: only the exit code and the verdict can.
    if (!written.ok) code = LateFailure(ctx, code, written.error);
  }
  return code;
}

}  // namespace

int RunIspCli(int argc, const char* const* argv, CliEnvironment& env,
              std::span<const CommandAdder> more) {
  GlobalOptions options;
  RunReport report(std::vector<std::string>(argv + 1, argv + argc));
  CliContext ctx{env, options, report, {}, {}, false, true, {}};
  CommandRun run{ctx, options};

  CLI::App app(
      "Programs and inspects the Velmora USB audio bridge chip: its flash (Auto, read-back), its "
      "registers and the slave behind its I2C master. Exit codes: 0 success, 1 a step failed, 2 "
      "usage error or bad program file (device untouched), 3 no device.",
      "velmora-isp");
  app.formatter(std::make_shared<WrappingFormatter>(env.columns));
  app.require_subcommand(1);
  AddGlobalOptions(app, options);
  app.footer(
      "Examples:\n  velmora-isp detect\n  velmora-isp auto firmware.hex\n"
      "  velmora-isp --virtual auto firmware.hex   (try it on the virtual chip)\n"
      "  velmora-isp auto --help                   (the options of one command)");
  AddDetectCommand(app, run);
  AddAutoCommand(app, run);
  AddReadBackCommand(app, run);
  AddImageCommands(app, run);
  AddRegisterCommands(app, run);
  AddParamsCommands(app, run);
  AddStatusCommand(app, run);
  for (CommandAdder add : more) add(app, run);
  if (more.empty()) {
    app.footer(app.get_footer() +
               "\n\nThe production station (velmora-isp station) is not part of this build.");
  }

  // CLI11 says "A subcommand is required" for a mistyped command and nothing helpful for a
  // mistyped option: name the word and the nearest known one.
  if (const auto unknown = FindUnknownWord(app, std::vector<std::string>(argv + 1, argv + argc))) {
    env.err << *unknown << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  app.parse_complete_callback([&ctx, &options] {
    if (options.quiet) MuteOutput(ctx);
  });

  // The command runs from its callback, once the whole command line has been checked.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    UnmuteOutput(ctx);
    const int code = app.exit(error, env.out, env.err);
    return code == 0 ? kExitSuccess : kExitUsage;
  }
  return FinishRun(ctx, run.code);
}

}  // namespace velmora::cli
