// reg and i2c: one-shot register access for scripts, shown in the pages' words
// ("Reg 0x12 = 0x34"): always the value read back.
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
  ctx.env.out << RegLine(reg, read_back);
  if (read_back != value) ctx.env.out << " (0x" << texts::Hex(value, 2) << " written)";
  ctx.env.out << '\n';
  ctx.report["value"] = HexText(read_back, 2);
}

}  // namespace

int RunRegRead(CliContext& ctx, std::uint8_t bank, std::uint8_t reg) {
  if (const std::optional<int> code = ConnectDevice(ctx)) return *code;
  std::uint8_t value = 0;
  if (!ReadBankRegister(ctx.bench->Link(), bank, reg, value)) {
    return Fail(ctx, kExitStepFailed,
                "Reading register 0x" + texts::Hex(reg, 2) + " of bank 0x" + texts::Hex(bank, 2) +
                    " failed");
  }
  ctx.env.out << RegLine(reg, value) << '\n';
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
  nlohmann::json list = nlohmann::json::array();
  for (unsigned i = 0; i < count; ++i) {
    ctx.env.out << RegLine(static_cast<std::uint8_t>(reg + i), values[i]) << '\n';
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

}  // namespace velmora::cli
