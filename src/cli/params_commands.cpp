// params: the Parameter tab through the mailbox. "show" reads the option block and prints it in
// the tab's words; "set" reads it, changes the options given and writes it back (bits the tool
// does not interpret travel unchanged), then reads it again to show what the device kept;
// "set-id" and "set-string" write the USB identifiers and descriptor strings.
#include <algorithm>
#include <array>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "cli_options.h"
#include "commands.h"
#include "exit_codes.h"
#include "flash_texts.h"
#include "parameter_commands.h"

namespace velmora::cli {
namespace {

namespace bit = parameter_bit;

constexpr std::array<const char*, kMclkFrequencyCount> kMclkCaptions{"128 Fs", "256 Fs", "512 Fs",
                                                                     "1024 Fs"};
constexpr std::array<const char*, 3> kStringLabels{
    "String 1 (Manufacturer)", "String 2 (Model Name)", "String 3 (Serial Number)"};
constexpr std::array<std::uint8_t, 3> kStringItems{
    parameter_item::kString1, parameter_item::kString2, parameter_item::kString3};

std::string BlockText(const ParameterBlock& block) {
  std::string text;
  for (std::uint8_t byte : block) text += (text.empty() ? "" : " ") + texts::Hex(byte, 2);
  return text;
}

// The block as the tab shows it: each group's caption with the option checked, each box
// ticked or not, and the EEPROM label.
std::vector<std::pair<std::string, std::string>> Describe(const ParameterBlock& block) {
  const auto on = [&](ParameterBit which) { return ParameterBitIsSet(block, which); };
  const auto yes = [&](ParameterBit which) { return on(which) ? "yes" : "no"; };
  return {
      {"I2S Output length", on(bit::kI2sWord32) ? "32 bit" : "24 bit"},
      {"SPDIF Output length", on(bit::kSpdifWord32) ? "32 bit" : "24 bit"},
      {"I2S Output Channel Swap", yes(bit::kI2sChannelSwap)},
      {"DSD Output Channel Swap", yes(bit::kDsdChannelSwap)},
      {"I2S MCLK Output Frequency", kMclkCaptions[MclkFrequencyIndex(block)]},
      {"I2S Format", on(bit::kI2sLeftJustify) ? "Left Justify" : "Standard"},
      {"Output when  DSD in", on(bit::kDsdOutNative) ? "DSD" : "DoP"},
      {"MCLK Output Off", yes(bit::kMclkOutputOff)},
      {"I2S Output Off", yes(bit::kI2sOutputOff)},
      {"SPDIF Output Off", yes(bit::kSpdifOutputOff)},
  };
}

void Show(CliContext& ctx, const ParameterBlock& block) {
  Result(ctx) << "Parameter block: " << BlockText(block) << '\n';
  nlohmann::ordered_json& report = ctx.report["parameters"];
  report["block"] = BlockText(block);
  for (const auto& [caption, value] : Describe(block)) {
    Result(ctx) << caption << ": " << value << '\n';
    report[caption] = value;
  }
  const bool eeprom = ParameterBitIsSet(block, bit::kEepromPresent);
  Result(ctx) << (eeprom ? "EEPROM Exist" : "EEPROM not Available") << '\n';
  report["eeprom"] = eeprom;
}

// params set: each option left empty keeps what the device holds.
struct ParamsSetArguments {
  std::string i2s_len, spdif_len;                     // "24" or "32"
  std::string i2s_swap, dsd_swap;                     // "on" or "off"
  std::string mclk;                                   // "128", "256", "512" or "1024"
  std::string i2s_format;                             // "standard" or "left-justify"
  std::string dsd_out;                                // "dsd" or "dop"
  std::string mclk_output, i2s_output, spdif_output;  // "on" or "off"
};

void Apply(ParameterBlock& block, const ParamsSetArguments& a) {
  const auto set = [&](const std::string& option, ParameterBit which, const char* when_set) {
    if (!option.empty()) SetParameterBit(block, which, option == when_set);
  };
  set(a.i2s_len, bit::kI2sWord32, "32");
  set(a.spdif_len, bit::kSpdifWord32, "32");
  set(a.i2s_swap, bit::kI2sChannelSwap, "on");
  set(a.dsd_swap, bit::kDsdChannelSwap, "on");
  set(a.i2s_format, bit::kI2sLeftJustify, "left-justify");
  set(a.dsd_out, bit::kDsdOutNative, "dsd");
  set(a.mclk_output, bit::kMclkOutputOff, "off");
  set(a.i2s_output, bit::kI2sOutputOff, "off");
  set(a.spdif_output, bit::kSpdifOutputOff, "off");
  for (int index = 0; index < kMclkFrequencyCount; ++index) {
    if (a.mclk + " Fs" == kMclkCaptions[index]) SetMclkFrequencyIndex(block, index);
  }
}

// The identifier as its four characters travel: the hexadecimal digits as typed, without a
// "0x", zero-padded in front to four.
std::string IdentifierText(std::string text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.erase(0, 2);
  return std::string(4 - std::min<std::size_t>(4, text.size()), '0') + text;
}

int RunParamsShow(CliContext& ctx) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  ParameterBlock block = kStartupParameterBlock;
  ReadParameterBlock(ctx.bench->Link(), block);
  Show(ctx, block);
  return kExitSuccess;
}

int RunParamsSet(CliContext& ctx, const ParamsSetArguments& args) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  ChipLink& link = ctx.bench->Link();
  // What "Read back" delivers, so that bits the tool does not interpret go back unchanged.
  ParameterBlock block = kStartupParameterBlock;
  ReadParameterBlock(link, block);
  Apply(block, args);
  WriteParameterBlock(link, block);
  ParameterBlock kept = block;
  ReadParameterBlock(link, kept);
  Show(ctx, kept);
  if (kept != block) {
    return Fail(ctx, kExitStepFailed,
                "The device did not keep the parameter block: " + BlockText(block) + " written, " +
                    BlockText(kept) + " read back");
  }
  return kExitSuccess;
}

int RunParamsSetId(CliContext& ctx, const std::string& vid, const std::string& pid) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  for (const auto& [text, item, name] : {std::tuple{vid, parameter_item::kVendorId, "VID"},
                                         std::tuple{pid, parameter_item::kProductId, "PID"}}) {
    if (text.empty()) continue;
    const std::string sent = IdentifierText(text);
    WriteIdentifier(ctx.bench->Link(), item, MakeIdentifierField(sent));
    ctx.env.out << name << ": " << sent << " sent\n";
    ctx.report["identifiers"][name] = sent;
  }
  return kExitSuccess;
}

int RunParamsSetString(CliContext& ctx, int number, const std::string& text) {
  const std::optional<std::vector<StringChunk>> chunks = StringFieldChunks(text);
  if (!chunks) {
    return Fail(
        ctx, kExitUsage,
        "String is longer than " + std::to_string(kMaxStringChars) + " characters: nothing sent");
  }
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  const auto index = static_cast<std::size_t>(number - 1);
  WriteStringChunks(ctx.bench->Link(), kStringItems[index], *chunks);
  ctx.env.out << kStringLabels[index] << ": \"" << text << "\" sent in " << chunks->size()
              << (chunks->size() == 1 ? " request\n" : " requests\n");
  ctx.report["string"] = {{"number", number}, {"text", text}, {"requests", chunks->size()}};
  return kExitSuccess;
}

}  // namespace

void AddParamsCommands(CLI::App& app, CommandRun& run) {
  struct Options {
    ParamsSetArguments set;
    std::string vid, pid;
    int number = 0;
    std::string text;
  };
  auto o = std::make_shared<Options>();
  CLI::App* params = app.add_subcommand(
      "params",
      "The Parameter tab: the device's output options, USB ids and strings, through "
      "its mailbox");
  params->require_subcommand(1);

  CLI::App* show =
      params->add_subcommand("show", "Read the option block and show it in the tab's words");
  AddDeviceIds(show, run.options);
  AddExamples(show, {"velmora-isp params show"});
  show->callback([&run] { run.code = RunParamsShow(run.ctx); });

  CLI::App* set = params->add_subcommand(
      "set", "Read the option block, change the options given, write it and read it back");
  const auto choice = [set](const char* name, std::string& value,
                            const std::vector<std::string>& values, const char* what) {
    std::string names;
    for (const std::string& v : values) names += (names.empty() ? "" : "|") + v;
    set->add_option(name, value, what)->check(OneOf(values))->type_name(names);
  };
  ParamsSetArguments& a = o->set;
  choice("--i2s-len", a.i2s_len, {"24", "32"}, "I2S Output length, bits");
  choice("--spdif-len", a.spdif_len, {"24", "32"}, "SPDIF Output length, bits");
  choice("--i2s-swap", a.i2s_swap, {"on", "off"}, "I2S Output Channel Swap");
  choice("--dsd-swap", a.dsd_swap, {"on", "off"}, "DSD Output Channel Swap");
  choice("--mclk", a.mclk, {"128", "256", "512", "1024"}, "I2S MCLK Output Frequency, times Fs");
  choice("--i2s-format", a.i2s_format, {"standard", "left-justify"}, "I2S Format");
  choice("--dsd-out", a.dsd_out, {"dsd", "dop"}, "Output when DSD is received");
  choice("--mclk-output", a.mclk_output, {"on", "off"}, "MCLK output");
  choice("--i2s-output", a.i2s_output, {"on", "off"}, "I2S output");
  choice("--spdif-output", a.spdif_output, {"on", "off"}, "SPDIF output");
  AddDeviceIds(set, run.options);
  AddExamples(set, {"velmora-isp params set --i2s-len 32 --mclk 256"});
  set->callback([o, &run] {
    // Nothing to change would only write the block back as it was read.
    const ParamsSetArguments& a = o->set;
    if ((a.i2s_len + a.spdif_len + a.i2s_swap + a.dsd_swap + a.mclk + a.i2s_format + a.dsd_out +
         a.mclk_output + a.i2s_output + a.spdif_output)
            .empty()) {
      throw CLI::ValidationError("set", "give at least one option to change (see --help)");
    }
    run.code = RunParamsSet(run.ctx, o->set);
  });

  CLI::App* set_id = params->add_subcommand(
      "set-id", "Write the USB vendor and/or product id the device reports (four hex digits)");
  set_id->add_option("--vid", o->vid, "Vendor id to write")->check(HexNumber(16))->type_name("HEX");
  set_id->add_option("--pid", o->pid, "Product id to write")
      ->check(HexNumber(16))
      ->type_name("HEX");
  // Its own --vid and --pid are the ids it writes.
  AddDeviceIds(set_id, run.options, "--device-vid", "--device-pid");
  AddExamples(set_id, {"velmora-isp params set-id --pid 6013"});
  set_id->callback([o, &run] {
    if (o->vid.empty() && o->pid.empty()) {
      throw CLI::ValidationError("set-id", "give --vid, --pid or both");
    }
    run.code = RunParamsSetId(run.ctx, o->vid, o->pid);
  });

  CLI::App* set_string = params->add_subcommand(
      "set-string",
      "Write USB string N: 1 manufacturer, 2 model name, 3 serial number (at most "
      "31 characters)");
  set_string->add_option("N", o->number, "String number (1 to 3)")
      ->required()
      ->check(CLI::Range(1, 3))
      ->type_name("");
  set_string->add_option("TEXT", o->text, "The text")
      ->required()
      ->check(PrintableText())
      ->type_name("");
  AddDeviceIds(set_string, run.options);
  AddExamples(set_string, {"velmora-isp params set-string 3 SN0001"});
  set_string->callback([o, &run] { run.code = RunParamsSetString(run.ctx, o->number, o->text); });
}

}  // namespace velmora::cli
