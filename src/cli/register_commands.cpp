// reg and i2c: one-shot register access for scripts, shown in the pages' words
// ("Reg 0x12 = 0x34"): always the value read back.
#include <memory>

#include "cli_options.h"
#include "commands.h"
#include "exit_codes.h"
#include "flash_texts.h"
#include "script_access.h"

namespace velmora::cli {
namespace {

std::string RegLine(std::uint8_t reg, std::uint8_t value) {
  return "Reg 0x" + texts::Hex(reg, 2) + " = 0x" + texts::Hex(value, 2);
}

// The pages' words for a write, and what the register held when it did not take the value.
void ShowWrite(CliContext& ctx, std::uint8_t reg, std::uint8_t value, std::uint8_t read_back) {
  Result(ctx) << RegLine(reg, read_back);
  if (read_back != value) Result(ctx) << " (0x" << texts::Hex(value, 2) << " written)";
  Result(ctx) << '\n';
  ctx.report["value"] = HexText(read_back, 2);
}

int RunRegRead(CliContext& ctx, std::uint8_t bank, std::uint8_t reg) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  std::uint8_t value = 0;
  if (!ReadBankRegister(ctx.bench->Link(), bank, reg, value)) {
    return Fail(ctx, kExitStepFailed,
                "Reading register 0x" + texts::Hex(reg, 2) + " of bank 0x" + texts::Hex(bank, 2) +
                    " failed");
  }
  Result(ctx) << RegLine(reg, value) << '\n';
  ctx.report["value"] = HexText(value, 2);
  return kExitSuccess;
}

int RunRegWrite(CliContext& ctx, std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  std::uint8_t read_back = 0;
  if (!WriteBankRegister(ctx.bench->Link(), bank, reg, value, read_back)) {
    return Fail(ctx, kExitStepFailed,
                "Writing register 0x" + texts::Hex(reg, 2) + " of bank 0x" + texts::Hex(bank, 2) +
                    " failed");
  }
  ShowWrite(ctx, reg, value, read_back);
  return kExitSuccess;
}

int RunI2cRead(CliContext& ctx, std::uint8_t address, std::uint8_t reg, std::uint8_t count) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  std::uint8_t values[256] = {};
  if (!ReadSlaveRegisters(ctx.bench->Link(), address, reg, count, values)) {
    return Fail(ctx, kExitStepFailed,
                "The I2C slave at 0x" + texts::Hex(address, 2) + " did not answer");
  }
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (unsigned i = 0; i < count; ++i) {
    Result(ctx) << RegLine(static_cast<std::uint8_t>(reg + i), values[i]) << '\n';
    list.push_back(HexText(values[i], 2));
  }
  ctx.report["values"] = list;
  return kExitSuccess;
}

int RunI2cWrite(CliContext& ctx, std::uint8_t address, std::uint8_t reg, std::uint8_t value) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  std::uint8_t read_back = 0;
  if (!WriteSlaveRegister(ctx.bench->Link(), address, reg, value, read_back)) {
    return Fail(ctx, kExitStepFailed,
                "The I2C slave at 0x" + texts::Hex(address, 2) + " did not answer");
  }
  ShowWrite(ctx, reg, value, read_back);
  return kExitSuccess;
}

}  // namespace

void AddRegisterCommands(CLI::App& app, CommandRun& run) {
  struct Options {
    std::string bank, address, reg, value;
    int count = 1;
  };
  auto o = std::make_shared<Options>();
  const auto hex = [](CLI::App* command, const char* name, std::string& value, const char* what) {
    command->add_option(name, value, what)->required()->check(HexNumber(8))->type_name("HEX");
  };

  CLI::App* reg = app.add_subcommand("reg", "One register of the chip, in bank BANK");
  reg->require_subcommand(1);
  CLI::App* reg_read = reg->add_subcommand("read", "Select BANK, read REG");
  CLI::App* reg_write =
      reg->add_subcommand("write", "Select BANK, write VALUE to REG and read it back");
  for (CLI::App* command : {reg_read, reg_write}) {
    hex(command, "BANK", o->bank, "Bank");
    hex(command, "REG", o->reg, "Register");
    AddDeviceIds(command, run.options);
  }
  AddExamples(reg_read, {"velmora-isp reg read 00 12"});
  hex(reg_write, "VALUE", o->value, "Value");
  AddExamples(reg_write, {"velmora-isp reg write 00 12 34"});
  reg_read->callback(
      [o, &run] { run.code = RunRegRead(run.ctx, HexByte(o->bank), HexByte(o->reg)); });
  reg_write->callback([o, &run] {
    run.code = RunRegWrite(run.ctx, HexByte(o->bank), HexByte(o->reg), HexByte(o->value));
  });

  CLI::App* i2c = app.add_subcommand(
      "i2c",
      "Registers of the slave behind the chip's I2C master; ADDR is the 8-bit bus "
      "address (20 is the 7-bit slave 0x10)");
  i2c->require_subcommand(1);
  CLI::App* i2c_read = i2c->add_subcommand("read", "Read COUNT registers from REG on");
  CLI::App* i2c_write = i2c->add_subcommand("write", "Write VALUE to REG and read it back");
  for (CLI::App* command : {i2c_read, i2c_write}) {
    hex(command, "ADDR", o->address, "Bus address (write form)");
    hex(command, "REG", o->reg, "Register");
    AddDeviceIds(command, run.options);
  }
  i2c_read->add_option("COUNT", o->count, "Registers to read (1 to 255, default 1)")
      ->check(CLI::Range(1, 255))
      ->type_name("");
  hex(i2c_write, "VALUE", o->value, "Value");
  AddExamples(i2c_read, {"velmora-isp i2c read 20 00 16"});
  AddExamples(i2c_write, {"velmora-isp i2c write 20 05 80"});
  // ADDR is sent as it is for the write phase and with bit 0 set to read: an odd ADDR would
  // write to the slave with its read address.
  const auto read_form = [o, &run] {
    const std::uint8_t address = HexByte(o->address);
    if ((address & 1) == 0) return false;
    run.code = Fail(run.ctx, kExitUsage,
                    "ADDR " + texts::Hex(address, 2) + " is a read address: give the write form " +
                        texts::Hex(address & 0xFE, 2) + " (the 7-bit slave 0x" +
                        texts::Hex(address >> 1, 2) + ")");
    return true;
  };
  i2c_read->callback([o, &run, read_form] {
    if (read_form()) return;
    run.code = RunI2cRead(run.ctx, HexByte(o->address), HexByte(o->reg),
                          static_cast<std::uint8_t>(o->count));
  });
  i2c_write->callback([o, &run, read_form] {
    if (read_form()) return;
    run.code = RunI2cWrite(run.ctx, HexByte(o->address), HexByte(o->reg), HexByte(o->value));
  });
}

}  // namespace velmora::cli
