// The commands of velmora-isp. Each takes the run's context and its own arguments (checked by
// the command line already), prints what it did and returns the exit code (exit_codes.h).
#pragma once

#include <string>

#include "auto_sequence.h"
#include "cli_context.h"
#include "user_table.h"

namespace velmora::cli {

// detect: looks once for the device; 0 when found, 3 when not.
int RunDetect(CliContext& ctx);

struct AutoArguments {
  std::string file;
  std::string range;  // "START_KB:SIZE_KB", or "" for the whole flash
  AutoSteps steps;
};
// auto: the window's Auto run over FILE, refused before the device is touched when the file is
// bad (2), the image does not fit the part or no flash answers (2).
int RunAuto(CliContext& ctx, const AutoArguments& args);

struct ReadBackArguments {
  std::string out;
  bool isp_mode = true;
};
// read-back: the first 128 KiB of the flash, each chunk read twice, into OUT (written in any
// case); 1 when a chunk did not read the same.
int RunReadBack(CliContext& ctx, const ReadBackArguments& args);

// image info: length and checksum as the window's loader finds them; 2 for a bad file.
int RunImageInfo(CliContext& ctx, const std::string& file);
// image dump: image bytes 0 .. length - 1 into OUT.
int RunImageDump(CliContext& ctx, const std::string& file, const std::string& out);

// patch-table: the "Gen. Bin File" job; 2 when IN holds no user table.
int RunPatchTable(CliContext& ctx, const std::string& in, const std::string& out,
                  const UserTableFields& fields);

// reg read / reg write: one register of a bank of the chip; 1 when a request failed.
int RunRegRead(CliContext& ctx, std::uint8_t bank, std::uint8_t reg);
int RunRegWrite(CliContext& ctx, std::uint8_t bank, std::uint8_t reg, std::uint8_t value);
// i2c read / i2c write: registers of the slave behind the chip's I2C master at the 8-bit bus
// address ADDR; 1 when the slave did not answer.
int RunI2cRead(CliContext& ctx, std::uint8_t address, std::uint8_t reg, std::uint8_t count);
int RunI2cWrite(CliContext& ctx, std::uint8_t address, std::uint8_t reg, std::uint8_t value);

// params show: the option block read through the mailbox, in the Parameter tab's words.
int RunParamsShow(CliContext& ctx);

// params set: each option left empty keeps what the device holds.
struct ParamsSetArguments {
  std::string i2s_len, spdif_len;                     // "24" or "32"
  std::string i2s_swap, dsd_swap;                     // "on" or "off"
  std::string mclk;                                   // "128", "256", "512" or "1024"
  std::string i2s_format;                             // "standard" or "left-justify"
  std::string dsd_out;                                // "dsd" or "dop"
  std::string mclk_output, i2s_output, spdif_output;  // "on" or "off"
};
// Reads the block, changes the options given, writes it and reads it back; 1 when the device
// did not keep it.
int RunParamsSet(CliContext& ctx, const ParamsSetArguments& args);
// params set-id: the vendor and/or product identifier (empty: not sent), four characters each.
int RunParamsSetId(CliContext& ctx, const std::string& vid, const std::string& pid);
// params set-string: descriptor string 1, 2 or 3; 2 for a text over 31 characters.
int RunParamsSetString(CliContext& ctx, int number, const std::string& text);

// status: the Information tab's status read-out; 1 when the registers could not be read.
int RunStatus(CliContext& ctx);

}  // namespace velmora::cli
