// status: the Information tab's "Update", in its words. Labels the tab greys out are left out.
#include "cli_options.h"
#include "commands.h"
#include "device_status.h"
#include "exit_codes.h"
#include "flash_texts.h"

namespace velmora::cli {
namespace {

int RunStatus(CliContext& ctx) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  DeviceStatus status;
  if (!ReadDeviceStatus(ctx.bench->Link(), status)) {
    return Fail(ctx, kExitStepFailed, "Reading the status registers 0xA4-0xA6 failed");
  }
  const std::string bytes = texts::Hex(status.rate_code, 2) + " " + texts::Hex(status.second, 2) +
                            " " + texts::Hex(status.flags, 2);
  Result(ctx) << "Status registers 0xA4-0xA6: " << bytes << '\n';
  nlohmann::ordered_json& report = ctx.report["status"];
  report["registers"] = bytes;

  const StatusDisplay shown = DescribeStatus(status);
  Result(ctx) << shown.connect << '\n';
  report["connect"] = shown.connect;
  if (shown.mute_enabled && shown.mute) {
    Result(ctx) << *shown.mute << '\n';
    report["mute"] = *shown.mute;
  }
  if (shown.format_enabled && shown.format && shown.rate) {
    Result(ctx) << "Input Format: " << *shown.format << '\n';
    Result(ctx) << "Input Freq:  " << *shown.rate << '\n';
    report["format"] = *shown.format;
    report["rate"] = *shown.rate;
  }
  return kExitSuccess;
}

}  // namespace

void AddStatusCommand(CLI::App& app, CommandRun& run) {
  CLI::App* status = app.add_subcommand(
      "status", "The Information tab's status read-out: connected, playing or muted, format, rate");
  AddDeviceIds(status, run.options);
  AddExamples(status, {"velmora-isp status"});
  status->callback([&run] { run.code = RunStatus(run.ctx); });
}

}  // namespace velmora::cli
