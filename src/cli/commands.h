// The commands of velmora-isp. Each Add function puts its command (or group of commands) on the
// command line with its options and help, and a callback that runs it once the whole command
// line has been checked: it prints what it did and leaves the exit code (exit_codes.h) in
// `run.code`.
#pragma once

#include <CLI/CLI.hpp>

#include "cli_context.h"
#include "exit_codes.h"
#include "global_options.h"

namespace velmora::cli {

struct CommandRun {
  CliContext& ctx;
  GlobalOptions& options;  // --vid and --pid of each command land here
  int code = kExitUsage;
};

// detect: looks once for the device; 0 when found, 3 when not.
void AddDetectCommand(CLI::App& app, CommandRun& run);
// auto FILE: the window's Auto run, refused before anything is written when the file is bad,
// the range unusable, no flash answers or the image does not fit the part (2).
void AddAutoCommand(CLI::App& app, CommandRun& run);
// read-back OUT: the first 128 KiB, each chunk read twice, into OUT (written in any case); 1
// when a chunk did not read the same.
void AddReadBackCommand(CLI::App& app, CommandRun& run);
// image info / image dump, and patch-table (the "Gen. Bin File" job): files only, no device.
void AddImageCommands(CLI::App& app, CommandRun& run);
// reg read / write and i2c read / write: one-shot register access; 1 when a request failed or
// the slave did not answer.
void AddRegisterCommands(CLI::App& app, CommandRun& run);
// params show / set / set-id / set-string: the Parameter tab through the mailbox.
void AddParamsCommands(CLI::App& app, CommandRun& run);
// status: the Information tab's status read-out; 1 when the registers could not be read.
void AddStatusCommand(CLI::App& app, CommandRun& run);

}  // namespace velmora::cli
