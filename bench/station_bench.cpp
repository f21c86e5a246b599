// Boards per hour of the production station on the virtual bench, for gangs of 1, 4 and 8, with
// the tool's pauses real (the erase waits as on hardware) and the record in a SQLite file.
// Prints one line per gang size; run it with the sample image or another with a user table:
//   station_bench [IMAGE]
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "program_file.h"
#include "station_loop.h"
#include "user_table.h"
#include "virtual_board_source.h"

using namespace velmora;
using namespace velmora::station;

int main(int argc, char** argv) {
  const std::string file =
      argc > 1 ? argv[1] : std::string(VELMORA_SAMPLES_DIR) + "/velmora-demo-fw-table.bin";
  StationJob job;
  if (!LoadProgramFile(file, job.image).ok || JobRefusal(job)) {
    std::fprintf(stderr, "%s: not an image with a user table\n", file.c_str());
    return 2;
  }
  job.table_offset = FindUserTable(std::span(job.image.bytes.data(), job.image.length)).offset;
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "velmora-bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  std::printf("image %s, %u bytes; pauses real, record in SQLite\n", file.c_str(),
              job.image.length);
  for (const unsigned gang : {1u, 4u, 8u}) {
    std::string error;
    auto record = StationRecord::Open(
        OpenSqlite((folder / ("gang" + std::to_string(gang) + ".db")).string(), error), error);
    if (!record) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    VirtualBenchOptions options;
    options.boards = gang;
    options.real_pauses = true;
    VirtualBoardSource bench(options);
    StationSettings settings;
    settings.gang = gang > 1;
    settings.boards = 2 * gang + 2;  // each port twice, and two more to fill the next round
    std::ostringstream out, err;
    StationIo io{out, err, false, nullptr};
    const StationTotals totals = RunStation(bench, *record, job, settings, io);
    std::printf("gang %u: %u boards in %.2f s, %.0f boards per hour (%u failed)\n", gang,
                totals.passed + totals.failed, totals.seconds, totals.BoardsPerHour(),
                totals.failed);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
