// detect: the window's detection verdict, once.
#include "commands.h"
#include "exit_codes.h"

namespace velmora::cli {

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

}  // namespace velmora::cli
