#include "isp_cli.h"

#include <CLI/CLI.hpp>
#include <vector>

#include "arguments.h"
#include "cli_context.h"
#include "commands.h"
#include "exit_codes.h"
#include "velmora_version.h"

namespace velmora::cli {
namespace {

constexpr const char* kGlobalsFooter =
    "Global options (before or after the command): --virtual, --virtual-flash FILE, "
    "--virtual-id ID, --verbose, --log FILE. See velmora-isp --help.";

// Validators carry no description of their own: the option's type name says what it takes.
CLI::Validator Hex(unsigned bits) {
  return CLI::Validator(
      [bits](std::string& text) -> std::string {
        if (ParseHex(text, bits)) return {};
        return text + " is not a hexadecimal number of at most " + std::to_string(bits) + " bits";
      },
      "");
}

CLI::Validator Choice(const std::vector<std::string>& values) {
  return CLI::Validator(
      [values](std::string& text) -> std::string {
        for (const std::string& value : values) {
          if (text == value) return {};
        }
        std::string all;
        for (const std::string& value : values) all += (all.empty() ? "" : ", ") + value;
        return text + " is not one of " + all;
      },
      "");
}

const CLI::Validator kJedecId(
    [](std::string& text) -> std::string {
      return ParseJedecId(text) ? "" : text + " is not six hexadecimal digits (C22013)";
    },
    "");

const CLI::Validator kRange(
    [](std::string& text) -> std::string {
      return ParseRange(text) ? "" : text + " is not START_KB:SIZE_KB (32:64)";
    },
    "");

const CLI::Validator kPrintable(
    [](std::string& text) -> std::string {
      return IsPrintableAscii(text) ? "" : "\"" + text + "\" is not printable ASCII";
    },
    "");

const CLI::Validator kTableText(
    [](std::string& text) -> std::string {
      return IsTableText(text) ? ""
                               : "\"" + text + "\" is not at most 32 printable ASCII characters";
    },
    "");

std::uint8_t Byte(const std::string& text) {
  return static_cast<std::uint8_t>(ParseHex(text, 8).value_or(0));
}

// --vid and --pid: the audio device's ids, for every command that looks for the device
// (params set-id, whose --vid and --pid are the ids it writes, names them --device-vid/-pid).
void AddDeviceIds(CLI::App* command, GlobalOptions& options, const char* vid = "--vid",
                  const char* pid = "--pid") {
  command->add_option(vid, options.vid, "Vendor id to look for the audio device under (6ccf)")
      ->check(Hex(16))
      ->type_name("HEX");
  command->add_option(pid, options.pid, "Product id to look for the audio device under (6012)")
      ->check(Hex(16))
      ->type_name("HEX");
  command->footer(kGlobalsFooter);
}

// Every command-line value the commands take, as the parser fills them in.
struct Arguments {
  AutoArguments automatic;
  bool no_isp_mode = false, no_erase = false, no_blank = false, no_program = false,
       no_verify = false, no_protect = false;
  ReadBackArguments read_back;
  bool read_back_no_isp_mode = false;
  std::string file, out;
  std::string patch_vid, patch_pid;
  std::array<std::string, kUserStringCount> patch_strings;
  std::array<bool, kUserStringCount> patch_given{};
  std::string bank, address, reg, value;
  int count = 1;
  ParamsSetArguments params;
  std::string id_vid, id_pid;
  int string_number = 0;
  std::string string_text;
};

UserTableFields PatchFields(const Arguments& a) {
  UserTableFields fields = DesignUserTableFields();
  if (!a.patch_vid.empty()) fields.vid = static_cast<std::uint16_t>(*ParseHex(a.patch_vid, 16));
  if (!a.patch_pid.empty()) fields.pid = static_cast<std::uint16_t>(*ParseHex(a.patch_pid, 16));
  for (std::size_t k = 0; k < kUserStringCount; ++k) {
    if (a.patch_given[k]) fields.strings[k] = a.patch_strings[k];
  }
  return fields;
}

}  // namespace

int RunIspCli(int argc, const char* const* argv, CliEnvironment& env) {
  GlobalOptions options;
  Arguments a;

  CLI::App app(
      "Programs and inspects the Velmora USB audio bridge chip: its flash (Auto, "
      "read-back), its registers and the slave behind its I2C master. Exit codes: 0 "
      "success, 1 a step failed, 2 usage error or bad program file (device untouched), "
      "3 no device.",
      "velmora-isp");
  app.require_subcommand(1);
  app.fallthrough();  // global options may also follow the command
  app.set_version_flag("--version", std::string("velmora-isp ") + kVersion);
  CLI::Option* virtual_chip = app.add_flag(
      "--virtual", options.virtual_chip,
      "Work on the virtual chip (plugged in as 6ccf:6012, flash erased) instead of USB");
  app.add_option("--virtual-flash", options.virtual_flash,
                 "Keep the virtual chip's flash in FILE between runs (created erased if missing)")
      ->type_name("FILE")
      ->needs(virtual_chip);
  app.add_option("--virtual-id", options.virtual_id,
                 "JEDEC id of the virtual chip's flash (default C22013, 512 KiB)")
      ->check(kJedecId)
      ->type_name("ID")
      ->needs(virtual_chip);
  app.add_flag("--verbose", options.verbose, "Print every USB request on stderr");
  app.add_option("--log", options.log, "Write a JSON report of the run to FILE")->type_name("FILE");

  CLI::App* detect = app.add_subcommand(
      "detect",
      "Look once for the audio device and the two firmware-update loaders; exit 0 "
      "when found, 3 when not");
  AddDeviceIds(detect, options);

  CLI::App* automatic = app.add_subcommand(
      "auto",
      "The Auto run: enter ISP mode, erase, blank check, program, verify, protect, "
      "leave ISP mode; refused before erasing when FILE is bad or does not fit the part");
  automatic->add_option("FILE", a.automatic.file, "Program file: .bin raw, .hex/.h00 Intel HEX")
      ->type_name("")
      ->required();
  automatic
      ->add_option("--range", a.automatic.range,
                   "Program at START_KB and erase SIZE_KB from there (4 KB sectors) instead "
                   "of erasing the whole chip")
      ->check(kRange)
      ->type_name("START_KB:SIZE_KB");
  automatic->add_flag("--no-isp-mode", a.no_isp_mode, "Do not enter or leave ISP mode");
  automatic->add_flag("--no-erase", a.no_erase, "Do not clear the status register and erase");
  automatic->add_flag("--no-blank", a.no_blank, "Skip the blank check");
  automatic->add_flag("--no-program", a.no_program, "Skip programming");
  automatic->add_flag("--no-verify", a.no_verify, "Skip the verify");
  automatic->add_flag("--no-protect", a.no_protect, "Leave the flash unprotected");
  AddDeviceIds(automatic, options);

  CLI::App* read_back = app.add_subcommand(
      "read-back",
      "Read the first 128 KiB of the flash, each chunk twice, into OUT.bin; exit 1 "
      "when a chunk did not read the same (the file is written all the same)");
  read_back->add_option("OUT", a.read_back.out, "File to write")->type_name("")->required();
  read_back->add_flag("--no-isp-mode", a.read_back_no_isp_mode, "Do not enter or leave ISP mode");
  AddDeviceIds(read_back, options);

  CLI::App* image = app.add_subcommand("image", "Load a program file as the window does");
  image->require_subcommand(1);
  CLI::App* info = image->add_subcommand("info", "Print the image's length and checksum");
  info->add_option("FILE", a.file, "Program file")->type_name("")->required();
  CLI::App* dump = image->add_subcommand("dump", "Write image bytes 0 .. length - 1 to OUT");
  dump->add_option("FILE", a.file, "Program file")->type_name("")->required();
  dump->add_option("OUT", a.out, "Raw file to write")->type_name("")->required();

  CLI::App* patch = app.add_subcommand(
      "patch-table",
      "The \"Gen. Bin File\" job: write USB ids and strings into the user table of "
      "IN and save the whole image as raw OUT; fields not given keep the page's "
      "texts; exit 2 when IN has no table");
  patch->add_option("IN", a.file, "Firmware image (.bin, .hex, .h00)")->type_name("")->required();
  patch->add_option("OUT", a.out, "Raw image to write")->type_name("")->required();
  patch->add_option("--vid", a.patch_vid, "Vendor id (default 6CCF)")
      ->check(Hex(16))
      ->type_name("HEX");
  patch->add_option("--pid", a.patch_pid, "Product id (default 6012)")
      ->check(Hex(16))
      ->type_name("HEX");
  const char* string_options[] = {"--manufacturer", "--product", "--serial", "--play-port",
                                  "--record-port"};
  const UserTableFields design = DesignUserTableFields();
  for (std::size_t k = 0; k < kUserStringCount; ++k) {
    patch
        ->add_option_function<std::string>(
            string_options[k],
            [&a, k](const std::string& text) {
              a.patch_strings[k] = text;
              a.patch_given[k] = true;
            },
            "Default \"" + design.strings[k] + "\"")
        ->check(kTableText)
        ->type_name("TEXT");
  }

  CLI::App* reg = app.add_subcommand("reg", "One register of the chip, in bank BANK");
  reg->require_subcommand(1);
  CLI::App* reg_read = reg->add_subcommand("read", "Select BANK, read REG");
  CLI::App* reg_write =
      reg->add_subcommand("write", "Select BANK, write VALUE to REG and read it back");
  for (CLI::App* command : {reg_read, reg_write}) {
    command->add_option("BANK", a.bank, "Bank")
        ->type_name("")
        ->required()
        ->check(Hex(8))
        ->type_name("HEX");
    command->add_option("REG", a.reg, "Register")
        ->type_name("")
        ->required()
        ->check(Hex(8))
        ->type_name("HEX");
    AddDeviceIds(command, options);
  }
  reg_write->add_option("VALUE", a.value, "Value")
      ->type_name("")
      ->required()
      ->check(Hex(8))
      ->type_name("HEX");

  CLI::App* i2c = app.add_subcommand(
      "i2c",
      "Registers of the slave behind the chip's I2C master; ADDR is the 8-bit bus "
      "address (20 is the 7-bit slave 0x10)");
  i2c->require_subcommand(1);
  CLI::App* i2c_read = i2c->add_subcommand("read", "Read COUNT registers from REG on");
  CLI::App* i2c_write = i2c->add_subcommand("write", "Write VALUE to REG and read it back");
  for (CLI::App* command : {i2c_read, i2c_write}) {
    command->add_option("ADDR", a.address, "Bus address (write form)")
        ->type_name("")
        ->required()
        ->check(Hex(8))
        ->type_name("HEX");
    command->add_option("REG", a.reg, "Register")
        ->type_name("")
        ->required()
        ->check(Hex(8))
        ->type_name("HEX");
    AddDeviceIds(command, options);
  }
  i2c_read->add_option("COUNT", a.count, "Registers to read (1 to 255, default 1)")
      ->type_name("")
      ->check(CLI::Range(1, 255));
  i2c_write->add_option("VALUE", a.value, "Value")
      ->type_name("")
      ->required()
      ->check(Hex(8))
      ->type_name("HEX");

  CLI::App* params = app.add_subcommand(
      "params",
      "The Parameter tab: the device's output options, USB ids and strings, through "
      "its mailbox");
  params->require_subcommand(1);
  CLI::App* params_show =
      params->add_subcommand("show", "Read the option block and show it in the tab's words");
  CLI::App* params_set = params->add_subcommand(
      "set", "Read the option block, change the options given, write it and read it back");
  const auto choice = [&](const char* name, std::string& value, std::vector<std::string> values,
                          const char* what) {
    std::string names;
    for (const std::string& v : values) names += (names.empty() ? "" : "|") + v;
    params_set->add_option(name, value, what)->check(Choice(values))->type_name(names);
  };
  choice("--i2s-len", a.params.i2s_len, {"24", "32"}, "I2S Output length, bits");
  choice("--spdif-len", a.params.spdif_len, {"24", "32"}, "SPDIF Output length, bits");
  choice("--i2s-swap", a.params.i2s_swap, {"on", "off"}, "I2S Output Channel Swap");
  choice("--dsd-swap", a.params.dsd_swap, {"on", "off"}, "DSD Output Channel Swap");
  choice("--mclk", a.params.mclk, {"128", "256", "512", "1024"},
         "I2S MCLK Output Frequency, times Fs");
  choice("--i2s-format", a.params.i2s_format, {"standard", "left-justify"}, "I2S Format");
  choice("--dsd-out", a.params.dsd_out, {"dsd", "dop"}, "Output when DSD is received");
  choice("--mclk-output", a.params.mclk_output, {"on", "off"}, "MCLK output");
  choice("--i2s-output", a.params.i2s_output, {"on", "off"}, "I2S output");
  choice("--spdif-output", a.params.spdif_output, {"on", "off"}, "SPDIF output");
  CLI::App* params_set_id = params->add_subcommand(
      "set-id", "Write the USB vendor and/or product id the device reports (four hex digits)");
  CLI::Option* id_vid = params_set_id->add_option("--vid", a.id_vid, "Vendor id to write")
                            ->check(Hex(16))
                            ->type_name("HEX");
  CLI::Option* id_pid = params_set_id->add_option("--pid", a.id_pid, "Product id to write")
                            ->check(Hex(16))
                            ->type_name("HEX");
  params_set_id->callback([id_vid, id_pid] {
    if (id_vid->count() + id_pid->count() == 0) {
      throw CLI::ValidationError("set-id", "give --vid, --pid or both");
    }
  });
  CLI::App* params_set_string = params->add_subcommand(
      "set-string",
      "Write USB string N: 1 manufacturer, 2 model name, 3 serial number (at most "
      "31 characters)");
  params_set_string->add_option("N", a.string_number, "String number (1 to 3)")
      ->type_name("")
      ->required()
      ->check(CLI::Range(1, 3));
  params_set_string->add_option("TEXT", a.string_text, "The text")
      ->type_name("")
      ->required()
      ->check(kPrintable);
  for (CLI::App* command : {params_show, params_set, params_set_string}) {
    AddDeviceIds(command, options);
  }
  AddDeviceIds(params_set_id, options, "--device-vid", "--device-pid");

  CLI::App* status = app.add_subcommand(
      "status", "The Information tab's status read-out: connected, playing or muted, format, rate");
  AddDeviceIds(status, options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error, env.out, env.err);
    return code == 0 ? kExitSuccess : kExitUsage;
  }

  RunReport report(std::vector<std::string>(argv + 1, argv + argc));
  CliContext ctx{env, options, report, {}, {}};
  int code = kExitUsage;
  if (detect->parsed()) {
    code = RunDetect(ctx);
  } else if (automatic->parsed()) {
    a.automatic.steps = AutoSteps{.reload_file = true,
                                  .isp_mode = !a.no_isp_mode,
                                  .erase = !a.no_erase,
                                  .blank = !a.no_blank,
                                  .program = !a.no_program,
                                  .verify = !a.no_verify,
                                  .protect = !a.no_protect};
    code = RunAuto(ctx, a.automatic);
  } else if (read_back->parsed()) {
    a.read_back.isp_mode = !a.read_back_no_isp_mode;
    code = RunReadBack(ctx, a.read_back);
  } else if (info->parsed()) {
    code = RunImageInfo(ctx, a.file);
  } else if (dump->parsed()) {
    code = RunImageDump(ctx, a.file, a.out);
  } else if (patch->parsed()) {
    code = RunPatchTable(ctx, a.file, a.out, PatchFields(a));
  } else if (reg_read->parsed()) {
    code = RunRegRead(ctx, Byte(a.bank), Byte(a.reg));
  } else if (reg_write->parsed()) {
    code = RunRegWrite(ctx, Byte(a.bank), Byte(a.reg), Byte(a.value));
  } else if (i2c_read->parsed()) {
    code = RunI2cRead(ctx, Byte(a.address), Byte(a.reg), static_cast<std::uint8_t>(a.count));
  } else if (i2c_write->parsed()) {
    code = RunI2cWrite(ctx, Byte(a.address), Byte(a.reg), Byte(a.value));
  } else if (params_show->parsed()) {
    code = RunParamsShow(ctx);
  } else if (params_set->parsed()) {
    code = RunParamsSet(ctx, a.params);
  } else if (params_set_id->parsed()) {
    code = RunParamsSetId(ctx, a.id_vid, a.id_pid);
  } else if (params_set_string->parsed()) {
    code = RunParamsSetString(ctx, a.string_number, a.string_text);
  } else if (status->parsed()) {
    code = RunStatus(ctx);
  }

  // The virtual chip's flash is kept whatever the command found: it is what the chip now holds.
  if (ctx.bench) {
    const FileWriteResult saved = ctx.bench->SaveVirtualFlash();
    if (!saved.ok) {
      env.err << saved.error << '\n';
      if (code == kExitSuccess) code = kExitStepFailed;
    }
    if (env.virtual_chip_done && ctx.bench->VirtualChip() != nullptr) {
      env.virtual_chip_done(*ctx.bench->VirtualChip());
    }
  }
  if (!options.log.empty()) {
    report.Finish(code, ctx.message);
    const FileWriteResult written = report.WriteTo(options.log);
    if (!written.ok) {
      env.err << written.error << '\n';
      if (code == kExitSuccess) code = kExitStepFailed;
    }
  }
  return code;
}

}  // namespace velmora::cli
