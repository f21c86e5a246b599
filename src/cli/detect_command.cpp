// detect: the window's detection verdict, once.
#include "cli_options.h"
#include "commands.h"

namespace velmora::cli {
namespace {

// Every matching device, one line each; 3 when there is none.
int RunList(CliContext& ctx) {
  std::string error;
  ctx.bench = DeviceBench::Create(ctx.options, ctx.env, error);
  if (!ctx.bench) return Refuse(ctx, error);
  const std::vector<ListedDevice> devices = ListDevices(ctx);
  ctx.env.out << DescribeDevices(devices) << std::flush;
  if (devices.empty()) return Fail(ctx, kExitNoDevice, "No device is available");
  return kExitSuccess;
}

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
  auto list = std::make_shared<bool>(false);
  detect->add_flag("--list", *list,
                   "List every matching device: its USB port path, ids, kind and serial string");
  AddDeviceIds(detect, run.options);
  AddExamples(detect, {"velmora-isp detect", "velmora-isp --virtual detect --pid 6013",
                       "velmora-isp detect --list"});
  detect->callback([&run, list] { run.code = *list ? RunList(run.ctx) : RunDetect(run.ctx); });
}

}  // namespace velmora::cli
