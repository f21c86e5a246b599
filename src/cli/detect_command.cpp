// detect: the window's detection verdict, once.
#include "cli_options.h"
#include "commands.h"

namespace velmora::cli {
namespace {

int RunDetect(CliContext& ctx) {
  if (const std::optional<int> code = ConnectDevice(ctx, /*must_open=*/false)) return *code;
  // Found is what detect answers; a device that cannot be opened is worth a word all the same.
  VelmoraUsb& usb = ctx.bench->Usb();
  if (!usb.Open()) {
    const std::string why = usb.Platform().LastError();
    ctx.env.err << (why.empty() ? "The device cannot be opened" : why) << '\n';
  }
  usb.Close();
  return kExitSuccess;
}

}  // namespace

void AddDetectCommand(CLI::App& app, CommandRun& run) {
  CLI::App* detect = app.add_subcommand(
      "detect",
      "Look once for the audio device and the two firmware-update loaders; exit 0 "
      "when found, 3 when not");
  AddDeviceIds(detect, run.options);
  AddExamples(detect, {"velmora-isp detect", "velmora-isp --virtual detect --pid 6013"});
  detect->callback([&run] { run.code = RunDetect(run.ctx); });
}

}  // namespace velmora::cli
