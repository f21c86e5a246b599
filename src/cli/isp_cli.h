// velmora-isp: the command-line flasher. A second front end over the same core as the window,
// for production benches and scripts; plain C++, so it also builds for Windows.
#pragma once

#include <span>

#include "cli_environment.h"

namespace CLI {
class App;
}

namespace velmora::cli {

// Parses the command line (argv[0] is the program), runs the command and returns its exit code
// (exit_codes.h): 0 success, 1 a step failed, 2 a usage error or a bad program file (the device
// untouched), 3 no device. With --virtual-flash the virtual chip's flash is saved at the end;
// with --log the JSON report is written last.
//
// `more` adds further commands (the station, where the build has it).
struct CommandRun;
using CommandAdder = void (*)(CLI::App& app, CommandRun& run);
int RunIspCli(int argc, const char* const* argv, CliEnvironment& env,
              std::span<const CommandAdder> more = {});

}  // namespace velmora::cli
