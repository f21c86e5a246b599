// What the commands' option definitions share: validators for the command line's value formats
// (which name the value in the error), the --vid/--pid pair of every command that looks for the
// device, and the footer that points at the global options.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "auto_sequence.h"
#include "global_options.h"

namespace velmora::cli {

// A hexadecimal number of at most `bits` bits (arguments.h: ParseHex).
CLI::Validator HexNumber(unsigned bits);
// One of `values`, exactly.
CLI::Validator OneOf(const std::vector<std::string>& values);
// Six hexadecimal digits (ParseJedecId), START_KB:SIZE_KB (ParseRange), printable ASCII, and a
// user table text (IsTableText).
CLI::Validator JedecIdText();
CLI::Validator RangeText();
CLI::Validator PrintableText();
CLI::Validator TableText();

// The byte a checked hexadecimal argument stands for.
std::uint8_t HexByte(const std::string& text);

// --vid and --pid: the ids to look for the audio device under, into `options`; `vid` and `pid`
// rename them where the command's own --vid and --pid mean something else. Adds the footer.
void AddDeviceIds(CLI::App* command, GlobalOptions& options, const char* vid = "--vid",
                  const char* pid = "--pid");

// The --no-STEP switches of auto and the station: every step runs unless its switch is given.
struct StepSwitches {
  bool no_isp_mode = false, no_erase = false, no_blank = false, no_program = false,
       no_verify = false, no_protect = false;
  // The steps to run; the program file is reloaded by every run (it is the command's argument).
  AutoSteps Steps() const;
};
void AddStepSwitches(CLI::App* command, StepSwitches& switches);

// Ends the command's help with `examples` (whole command lines) and the global options.
void AddExamples(CLI::App* command, const std::vector<std::string>& examples);

}  // namespace velmora::cli
