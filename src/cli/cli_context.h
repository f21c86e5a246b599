// What every command of velmora-isp works with: the process around it, the shared options, the
// report of the run and, once a command has asked for it, the device.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli_environment.h"
#include "device_bench.h"
#include "global_options.h"
#include "run_report.h"

namespace velmora::cli {

struct CliContext {
  CliEnvironment& env;
  const GlobalOptions& options;
  RunReport& report;
  std::string message;                 // the last words the run showed, for the report
  std::unique_ptr<DeviceBench> bench;  // set by ConnectDevice
  // With --quiet: stdout as it was before MuteOutput muted env.out; Result() writes to it.
  std::unique_ptr<std::ostream> unmuted;
};

// --quiet: from now on what the commands print on env.out is dropped, except what they print
// through Result(). UnmuteOutput gives env.out its own buffer back (at the end of the run).
void MuteOutput(CliContext& ctx);
void UnmuteOutput(CliContext& ctx);
// Where a command prints its result (a register's value, the verdict): stdout, quiet or not.
std::ostream& Result(CliContext& ctx);

// Says `words` on the error stream, keeps them as the run's message and returns `exit_code`.
int Fail(CliContext& ctx, int exit_code, const std::string& words);

// Sets up the device link and looks once for the device, as detection does: the audio device
// under --vid/--pid (default 6ccf:6012), then the firmware-update loader as 6ccf:6000 and
// 1d7a:6000. Prints what detection shows ("Device 6012 is exist", "No device is available").
// With `must_open`, also opens and closes the device once, so that a missing permission is told
// in words (naming the udev rule) before any command starts. Returns the exit code to end with
// (2: the virtual chip's set-up is wrong, 3: no device, 1: the device cannot be opened), or
// nothing when the device is ready.
std::optional<int> ConnectDevice(CliContext& ctx, bool must_open = true);

// The verdict line every device command ends with: "Verdict: success: <words>" or
// "Verdict: failed: <words>".
void PrintVerdict(CliContext& ctx, const std::string& verdict, const std::string& words);

}  // namespace velmora::cli
