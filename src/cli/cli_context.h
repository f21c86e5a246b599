// What every command of velmora-isp works with: the process around it, the shared options, the
// report of the run and, once a command has asked for it, the device.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli_environment.h"
#include "device_bench.h"
#include "device_list.h"
#include "global_options.h"
#include "output_paths.h"
#include "run_report.h"

namespace velmora::cli {

struct CliContext {
  CliEnvironment& env;
  const GlobalOptions& options;
  RunReport& report;
  std::string message;                 // the last words the run showed, for the report
  std::unique_ptr<DeviceBench> bench;  // set by ConnectDevice
  bool outputs_checked = false;        // set by RefuseBadOutputs
  bool log_allowed = true;             // false when --log names a file the run must not write
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
// A run refused before anything was written: the words on stderr and the verdict line on stdout,
// so a log of either says why. Returns 2.
int Refuse(CliContext& ctx, const std::string& words);

// The files of the run checked before anything else happens (OutputRefusal): the command's own
// `inputs` and `outputs`, plus --log and --virtual-flash (both written at the end). Says why and
// returns 2 when one is refused, nothing when all are fine.
std::optional<int> RefuseBadOutputs(CliContext& ctx, std::vector<NamedFile> inputs = {},
                                    std::vector<NamedFile> outputs = {});

// Sets up the device link and looks once for the device, as detection does: the audio device
// under --vid/--pid (default 6ccf:6012), then the firmware-update loader as 6ccf:6000 and
// 1d7a:6000. Prints what detection shows ("Device 6012 is exist", "No device is available").
// With `must_open`, also opens and closes the device once, so that a missing permission is told
// in words (naming the udev rule) before any command starts. Returns the exit code to end with
// (2: the virtual chip's set-up is wrong, 3: no device, 1: the device cannot be opened), or
// nothing when the device is ready. Checks the outputs (RefuseBadOutputs) first unless the
// command already has.
std::optional<int> ConnectDevice(CliContext& ctx, bool must_open = true);

// "SIGTERM" when a signal asked the run to stop, else nullptr.
const char* StopSignalName(const CliEnvironment& env);

// The devices on the bench's bus that the command may mean: the audio device under --vid/--pid
// and both loaders (device_list.h).
std::vector<ListedDevice> ListDevices(CliContext& ctx);

// Picks the device the command works on: the one --device names (3 with the list when it is not
// there), the only one present, or none when nothing is present. Several present and none named:
// 2 with the list. The link is restricted to a named device; on the real bus the device is locked
// for the rest of the run (1, "in use by another program", when another program holds it).
std::optional<int> ChooseDevice(CliContext& ctx);

// The verdict line every device command ends with: "Verdict: success: <words>" or
// "Verdict: failed: <words>".
void PrintVerdict(CliContext& ctx, const std::string& verdict, const std::string& words);

}  // namespace velmora::cli
