// The files a run will write, checked before the device is touched: a run that flashed the board
// and then could not write its report, or wrote the report over the firmware it had just
// programmed, has already done its damage.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

// A file named on the command line and what it is to the user ("the program file", "--log").
struct NamedFile {
  std::string path;
  std::string role;
};

// Why the run must not start, or nothing. Each output's folder must exist and be writable; an
// existing output must be a regular file that may be written (a read-only file is refused rather
// than replaced); no output may be the same file as an input or as another output (symbolic and
// hard links count as the same file). Messages name the path as given with the system's reason:
// "Cannot write "nodir/x.bin": No such file or directory".
std::optional<std::string> OutputRefusal(const std::vector<NamedFile>& inputs,
                                         const std::vector<NamedFile>& outputs);

}  // namespace velmora::cli
