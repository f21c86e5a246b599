// One board of the production station, start to end: the serial into the image's user table
// (or afterwards into string 3 through the mailbox), the pre-flight, the Auto run, the verdict.
// Nothing here is shared between boards: every call works on its own link, its own copy of the
// image and its own result, so a gang runs one call per board on as many threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "auto_sequence.h"
#include "chip_commands.h"
#include "flash_geometry.h"
#include "program_image.h"

namespace velmora::station {

enum class SerialVia { UserTable, Params };

// What every board of a run gets; read-only once the station starts.
struct StationJob {
  ProgramImage image;              // as loaded from the file, serial not yet written
  std::uint32_t table_offset = 0;  // the user table's marker (when via the user table)
  SerialVia serial_via = SerialVia::UserTable;
  AutoSteps steps;
  FlashRange range;
  AutoProfile profile = AutoProfile::Design;  // --fast: the command line's faster Auto
};

struct StepResult {
  std::string step;     // "erase", "program", ...
  std::string outcome;  // "ok", "failed", "stopped"
  double seconds = 0;
};

struct BoardResult {
  bool passed = false;
  std::string failure;  // the first failure in words ("Verifying Fail at 0x000040"); "" when passed
  std::string jedec_id;              // "C2 20 13"; "" when it was never read
  std::uint16_t image_checksum = 0;  // of the image as written, serial included
  std::vector<StepResult> steps;
};

// Why the file cannot serve the station at all, or nothing: with the serial via the user table,
// an image without one that fits ("...has no user table").
std::optional<std::string> JobRefusal(const StationJob& job);

// The image with `serial` in the table's serial field (32 bytes, space-padded; longer serials
// are cut to 32 characters); nothing else changes.
ProgramImage ImageWithSerial(const StationJob& job, const std::string& serial);

// Programs one board over `link` (the device found and not open). `stop`, when set, cuts the run
// short at its next chunk, page or poll boundary (the protect and the ISP exit still run).
BoardResult ProgramBoard(ChipLink& link, const StationJob& job, const std::string& serial,
                         const std::atomic<bool>* stop = nullptr);

}  // namespace velmora::station
