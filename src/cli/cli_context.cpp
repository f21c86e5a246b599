#include "cli_context.h"

#include "arguments.h"
#include "exit_codes.h"
#include "flash_texts.h"
#include "presence_monitor.h"

namespace velmora::cli {
namespace {

// The id as the window's boxes hold it: four lower-case hexadecimal digits. The options were
// checked when they were parsed.
std::string IdText(const std::string& option) {
  std::string text = texts::Hex(ParseHex(option, 16).value_or(0), 4);
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A buffer that takes every character and keeps none.
class DropAll final : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
};

DropAll dropped;

}  // namespace

void MuteOutput(CliContext& ctx) {
  if (ctx.unmuted) return;
  ctx.unmuted = std::make_unique<std::ostream>(ctx.env.out.rdbuf(&dropped));
}

void UnmuteOutput(CliContext& ctx) {
  if (!ctx.unmuted) return;
  ctx.env.out.rdbuf(ctx.unmuted->rdbuf());
  // What failed while writing through the other stream is this stream's failure too.
  ctx.env.out.setstate(ctx.unmuted->rdstate());
  ctx.unmuted.reset();
}

std::ostream& Result(CliContext& ctx) {
  return ctx.unmuted ? *ctx.unmuted : ctx.env.out;
}

int Fail(CliContext& ctx, int exit_code, const std::string& words) {
  ctx.env.err << words << '\n';
  ctx.message = words;
  return exit_code;
}

std::optional<int> ConnectDevice(CliContext& ctx, bool must_open) {
  std::string error;
  ctx.bench = DeviceBench::Create(ctx.options, ctx.env, error);
  if (!ctx.bench) return Fail(ctx, kExitUsage, error);

  VelmoraUsb& usb = ctx.bench->Usb();
  PresenceMonitor monitor(usb);
  monitor.SwitchOn(IdText(ctx.options.vid), IdText(ctx.options.pid));
  const PresenceDisplay shown = monitor.LookOnce();
  ctx.env.out << shown.label << '\n' << std::flush;
  ctx.message = shown.label;

  nlohmann::ordered_json& device = ctx.report["device"];
  device["virtual"] = ctx.options.virtual_chip;
  device["found"] = usb.IsFound() != 0;
  device["detection"] = shown.label;
  if (!usb.IsFound()) return kExitNoDevice;
  device["path"] = usb.DevicePath();
  device["backend"] = usb.GetBackend() == VelmoraUsb::kPropertyBackend ? "property" : "generic";

  if (must_open) {
    if (!usb.Open()) {
      const std::string why = usb.Platform().LastError();
      usb.Close();
      return Fail(ctx, kExitStepFailed,
                  why.empty() ? "Cannot open the device " + usb.DevicePath() : why);
    }
    usb.Close();
  }
  return std::nullopt;
}

void PrintVerdict(CliContext& ctx, const std::string& verdict, const std::string& words) {
  Result(ctx) << "Verdict: " << verdict << ": " << words << '\n' << std::flush;
  ctx.message = words;
}

}  // namespace velmora::cli
