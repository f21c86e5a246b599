// image info, image dump and patch-table: program files and firmware images, no device.
#include <array>
#include <memory>
#include <optional>
#include <span>

#include "arguments.h"
#include "cli_options.h"
#include "commands.h"
#include "exit_codes.h"
#include "flash_texts.h"
#include "program_file.h"
#include "user_table.h"

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
  if (!loaded.note.empty()) ctx.env.out << loaded.note << '\n';
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

int RunImageInfo(CliContext& ctx, const std::string& file) {
  ProgramImage image;
  std::uint16_t checksum = 0;
  if (!Load(ctx, file, image, checksum)) return kExitUsage;
  Result(ctx) << "length 0x" << texts::Hex(image.length, 5) << "\nchecksum 0x"
              << texts::Hex(checksum, 4) << '\n';
  return kExitSuccess;
}

int RunImageDump(CliContext& ctx, const std::string& file, const std::string& out) {
  if (const auto code = RefuseBadOutputs(ctx, {{file, "the program file"}}, {{out, "OUT"}})) {
    return *code;
  }
  ProgramImage image;
  std::uint16_t checksum = 0;
  if (!Load(ctx, file, image, checksum)) return kExitUsage;
  const int code = Write(ctx, out, std::span(image.bytes).first(image.length));
  if (code == kExitSuccess) ctx.env.out << "Wrote " << image.length << " bytes to " << out << '\n';
  return code;
}

int RunPatchTable(CliContext& ctx, const std::string& in, const std::string& out,
                  const UserTableFields& fields) {
  if (const auto code = RefuseBadOutputs(ctx, {{in, "the image IN"}}, {{out, "OUT"}})) {
    return *code;
  }
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

}  // namespace

void AddImageCommands(CLI::App& app, CommandRun& run) {
  struct Options {
    std::string file, out;
    std::string vid, pid;
    std::array<std::optional<std::string>, kUserStringCount> strings;
  };
  auto o = std::make_shared<Options>();

  CLI::App* image = app.add_subcommand("image", "Load a program file as the window does");
  image->require_subcommand(1);
  CLI::App* info = image->add_subcommand("info", "Print the image's length and checksum");
  info->add_option("FILE", o->file, "Program file")->required()->type_name("");
  AddExamples(info, {"velmora-isp image info firmware.hex"});
  info->callback([o, &run] { run.code = RunImageInfo(run.ctx, o->file); });
  CLI::App* dump = image->add_subcommand("dump", "Write image bytes 0 .. length - 1 to OUT");
  dump->add_option("FILE", o->file, "Program file")->required()->type_name("");
  dump->add_option("OUT", o->out, "Raw file to write")->required()->type_name("");
  AddExamples(dump, {"velmora-isp image dump firmware.hex firmware.bin"});
  dump->callback([o, &run] { run.code = RunImageDump(run.ctx, o->file, o->out); });

  CLI::App* patch = app.add_subcommand(
      "patch-table",
      "The \"Gen. Bin File\" job: write USB ids and strings into the user table of IN and save "
      "the whole image as raw OUT; fields not given keep the page's texts; exit 2 when IN has "
      "no table");
  patch->add_option("IN", o->file, "Firmware image (.bin, .hex, .h00)")->required()->type_name("");
  patch->add_option("OUT", o->out, "Raw image to write")->required()->type_name("");
  patch->add_option("--vid", o->vid, "Vendor id (default 6CCF)")
      ->check(HexNumber(16))
      ->type_name("HEX");
  patch->add_option("--pid", o->pid, "Product id (default 6012)")
      ->check(HexNumber(16))
      ->type_name("HEX");
  const char* names[] = {"--manufacturer", "--product", "--serial", "--play-port", "--record-port"};
  const UserTableFields design = DesignUserTableFields();
  for (std::size_t k = 0; k < kUserStringCount; ++k) {
    patch
        ->add_option_function<std::string>(
            names[k], [o, k](const std::string& text) { o->strings[k] = text; },
            "Default \"" + design.strings[k] + "\"")
        ->check(TableText())
        ->type_name("TEXT");
  }
  AddExamples(patch, {"velmora-isp patch-table firmware.hex out.bin --pid 6013 --serial SN0001"});
  patch->callback([o, &run] {
    UserTableFields fields = DesignUserTableFields();
    if (!o->vid.empty()) fields.vid = static_cast<std::uint16_t>(*ParseHex(o->vid, 16));
    if (!o->pid.empty()) fields.pid = static_cast<std::uint16_t>(*ParseHex(o->pid, 16));
    for (std::size_t k = 0; k < kUserStringCount; ++k) {
      if (o->strings[k]) fields.strings[k] = *o->strings[k];
    }
    run.code = RunPatchTable(run.ctx, o->file, o->out, fields);
  });
}

}  // namespace velmora::cli
