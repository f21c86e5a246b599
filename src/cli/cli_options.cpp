#include "cli_options.h"

#include <algorithm>

#include "arguments.h"

namespace velmora::cli {
namespace {

constexpr const char* kGlobalsFooter =
    "Global options (before or after the command): --virtual, --virtual-flash FILE, "
    "--virtual-id ID, --virtual-latency-us N, --device PATH, --verbose, -q/--quiet, --log FILE. "
    "See velmora-isp --help.";

// Validators carry no description of their own: the option's type name says what it takes.
CLI::Validator Checked(std::function<bool(const std::string&)> ok, std::string says) {
  return CLI::Validator(
      [ok = std::move(ok), says = std::move(says)](std::string& text) -> std::string {
        return ok(text) ? std::string() : "\"" + text + "\" " + says;
      },
      "");
}

}  // namespace

CLI::Validator HexNumber(unsigned bits) {
  return Checked([bits](const std::string& text) { return ParseHex(text, bits).has_value(); },
                 "is not a hexadecimal number of at most " + std::to_string(bits) + " bits");
}

CLI::Validator OneOf(const std::vector<std::string>& values) {
  std::string all;
  for (const std::string& value : values) all += (all.empty() ? "" : ", ") + value;
  return Checked(
      [values](const std::string& text) {
        return std::find(values.begin(), values.end(), text) != values.end();
      },
      "is not one of " + all);
}

CLI::Validator JedecIdText() {
  return Checked([](const std::string& text) { return ParseJedecId(text).has_value(); },
                 "is not six hexadecimal digits (C22013)");
}

CLI::Validator RangeText() {
  return Checked([](const std::string& text) { return ParseRange(text).has_value(); },
                 "is not START_KB:SIZE_KB (32:64)");
}

CLI::Validator PrintableText() {
  return Checked([](const std::string& text) { return IsPrintableAscii(text); },
                 "is not printable ASCII");
}

CLI::Validator TableText() {
  return Checked([](const std::string& text) { return IsTableText(text); },
                 "is not at most 32 printable ASCII characters");
}

std::uint8_t HexByte(const std::string& text) {
  return static_cast<std::uint8_t>(ParseHex(text, 8).value_or(0));
}

void AddDeviceIds(CLI::App* command, GlobalOptions& options, const char* vid, const char* pid) {
  command->add_option(vid, options.vid, "Vendor id to look for the audio device under (6ccf)")
      ->check(HexNumber(16))
      ->type_name("HEX");
  command->add_option(pid, options.pid, "Product id to look for the audio device under (6012)")
      ->check(HexNumber(16))
      ->type_name("HEX");
  command->footer(kGlobalsFooter);
}

void AddExamples(CLI::App* command, const std::vector<std::string>& examples) {
  std::string footer = "Examples:\n";
  for (const std::string& example : examples) footer += "  " + example + "\n";
  command->footer(footer + "\n" + kGlobalsFooter);
}

AutoSteps StepSwitches::Steps() const {
  return AutoSteps{.reload_file = true,
                   .isp_mode = !no_isp_mode,
                   .erase = !no_erase,
                   .blank = !no_blank,
                   .program = !no_program,
                   .verify = !no_verify,
                   .protect = !no_protect};
}

void AddStepSwitches(CLI::App* command, StepSwitches& switches) {
  command->add_flag("--no-isp-mode", switches.no_isp_mode, "Do not enter or leave ISP mode");
  command->add_flag("--no-erase", switches.no_erase, "Do not clear the status register and erase");
  command->add_flag("--no-blank", switches.no_blank, "Skip the blank check");
  command->add_flag("--no-program", switches.no_program, "Skip programming");
  command->add_flag("--no-verify", switches.no_verify, "Skip the verify");
  command->add_flag("--no-protect", switches.no_protect, "Leave the flash unprotected");
}

}  // namespace velmora::cli
