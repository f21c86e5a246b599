#include "cli_context.h"

#include <csignal>

#include "arguments.h"
#include "device_list.h"
#include "device_lock.h"
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

std::vector<ListedDevice> ListDevices(CliContext& ctx) {
  return ListMatchingDevices(ctx.bench->Bus(),
                             static_cast<std::uint16_t>(ParseHex(ctx.options.vid, 16).value_or(0)),
                             static_cast<std::uint16_t>(ParseHex(ctx.options.pid, 16).value_or(0)));
}

std::optional<int> ChooseDevice(CliContext& ctx) {
  const std::vector<ListedDevice> devices = ListDevices(ctx);
  const ListedDevice* chosen = devices.size() == 1 ? &devices[0] : nullptr;
  if (!ctx.options.device.empty()) {
    chosen = FindNamedDevice(devices, ctx.options.device);
    if (chosen == nullptr) {
      return Fail(ctx, kExitNoDevice,
                  "No device at " + ctx.options.device + ". Devices present:\n" +
                      (devices.empty() ? "(none)\n" : DescribeDevices(devices)));
    }
    ctx.bench->RestrictTo(chosen->identity);
  } else if (devices.size() > 1) {
    // Taking the first would program whichever board the system happened to list first.
    return Refuse(
        ctx, "Several devices match; name one with --device PATH:\n" + DescribeDevices(devices));
  }
  // The virtual chip belongs to this process alone: only the bus is shared.
  if (chosen != nullptr && !ctx.options.virtual_chip) {
    std::string error;
    std::unique_ptr<DeviceLock> lock = DeviceLock::Acquire(chosen->port_path, error);
    if (!lock) return Fail(ctx, kExitStepFailed, error);
    ctx.bench->HoldLock(std::move(lock));
  }
  return std::nullopt;
}

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

int Refuse(CliContext& ctx, const std::string& words) {
  Fail(ctx, kExitUsage, words);
  PrintVerdict(ctx, "refused", words);
  return kExitUsage;
}

std::optional<int> RefuseBadOutputs(CliContext& ctx, std::vector<NamedFile> inputs,
                                    std::vector<NamedFile> outputs) {
  ctx.outputs_checked = true;
  if (!ctx.options.virtual_flash.empty()) {
    outputs.push_back({ctx.options.virtual_flash, "the virtual flash (--virtual-flash)"});
  }
  if (!ctx.options.log.empty()) {
    // A refused run still leaves its report, unless the report itself is what is wrong.
    std::vector<NamedFile> others = inputs;
    others.insert(others.end(), outputs.begin(), outputs.end());
    ctx.log_allowed = !OutputRefusal(others, {{ctx.options.log, "the report (--log)"}});
    outputs.push_back({ctx.options.log, "the report (--log)"});
  }
  if (auto refusal = OutputRefusal(inputs, outputs)) return Refuse(ctx, *refusal);
  return std::nullopt;
}

std::optional<int> ConnectDevice(CliContext& ctx, bool must_open) {
  if (!ctx.outputs_checked) {
    if (const std::optional<int> code = RefuseBadOutputs(ctx)) return code;
  }
  std::string error;
  ctx.bench = DeviceBench::Create(ctx.options, ctx.env, error);
  if (!ctx.bench) return Refuse(ctx, error);
  if (const std::optional<int> code = ChooseDevice(ctx)) return *code;

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

const char* StopSignalName(const CliEnvironment& env) {
  if (env.stop_signal == nullptr) return nullptr;
  switch (env.stop_signal->load()) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
      return "SIGHUP";
#endif
    default:
      return nullptr;
  }
}

void PrintVerdict(CliContext& ctx, const std::string& verdict, const std::string& words) {
  Result(ctx) << "Verdict: " << verdict << ": " << words << '\n' << std::flush;
  ctx.message = words;
}

}  // namespace velmora::cli
