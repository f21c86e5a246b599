// image info, image dump and patch-table: program files and firmware images, no device.
#include <span>

#include "commands.h"
#include "exit_codes.h"
#include "flash_texts.h"
#include "program_file.h"

namespace velmora::cli {
namespace {

// Loads `file` as the window's "File" button does; false (after saying why) for a bad file.
bool Load(CliContext& ctx, const std::string& file, ProgramImage& image, std::uint16_t& checksum) {
  const ImageLoadResult loaded = LoadProgramFile(file, image);
  ctx.report["file"]["name"] = file;
  if (!loaded.ok) {
    Fail(ctx, kExitUsage, loaded.message);
    return false;
  }
  checksum = loaded.checksum;
  ctx.report["file"]["length"] = image.length;
  ctx.report["file"]["checksum"] = HexText(checksum, 4);
  return true;
}

int Write(CliContext& ctx, const std::string& out, std::span<const std::uint8_t> bytes) {
  const FileWriteResult written = WriteFileAtomically(out, bytes);
  if (!written.ok) return Fail(ctx, kExitStepFailed, written.error);
  ctx.report["output"] = {{"name", out}, {"length", bytes.size()}};
  return kExitSuccess;
}

}  // namespace

int RunImageInfo(CliContext& ctx, const std::string& file) {
  ProgramImage image;
  std::uint16_t checksum = 0;
  if (!Load(ctx, file, image, checksum)) return kExitUsage;
  ctx.env.out << "length 0x" << texts::Hex(image.length, 5) << "\nchecksum 0x"
              << texts::Hex(checksum, 4) << '\n';
  return kExitSuccess;
}

int RunImageDump(CliContext& ctx, const std::string& file, const std::string& out) {
  ProgramImage image;
  std::uint16_t checksum = 0;
  if (!Load(ctx, file, image, checksum)) return kExitUsage;
  const int code = Write(ctx, out, std::span(image.bytes).first(image.length));
  if (code == kExitSuccess) ctx.env.out << "Wrote " << image.length << " bytes to " << out << '\n';
  return code;
}

int RunPatchTable(CliContext& ctx, const std::string& in, const std::string& out,
                  const UserTableFields& fields) {
  ProgramImage image;
  std::uint16_t checksum = 0;
  if (!Load(ctx, in, image, checksum)) return kExitUsage;
  const std::span<std::uint8_t> bytes = std::span(image.bytes).first(image.length);
  const UserTableSearch search = FindUserTable(bytes);
  if (!search.Found()) {
    const std::string why = search.outcome == UserTableSearch::Outcome::kCutShort
                                ? " has its user table cut short by the end of the image"
                                : " holds no user table (marker VLUSB_Table01)";
    return Fail(ctx, kExitUsage, "Load file is invalid for modify: " + in + why);
  }
  const PatchResult patched = PatchUserTable(bytes, search.offset, fields);
  ctx.report["table_offset"] = HexText(search.offset, 6);
  const int code = Write(ctx, out, bytes);
  if (code != kExitSuccess) return code;
  ctx.report["sum"] = HexText(patched.sum, 4);
  ctx.env.out << "sum 0x" << texts::Hex(patched.sum, 4) << '\n';
  return kExitSuccess;
}

}  // namespace velmora::cli
