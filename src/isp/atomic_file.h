// Writing a whole file so that it either holds all the new bytes or is left as it was: the bytes
// go to a temporary file in the same folder, which then replaces the target in one rename.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velmora {

struct FileWriteResult {
  bool ok = false;
  std::string error;  // words for the process label when !ok ("Cannot write x.bin: No space ...")
};

// Writes `bytes` to `path`, replacing any file there. A symbolic link at `path` is followed (to
// the end of its chain): the file it names is written and the link stays. A file that is
// replaced keeps its permission bits; a new one gets the usual mode for new files. On failure no
// partial file is left behind: neither at `path`, which keeps its old contents, nor as a
// temporary.
FileWriteResult WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace velmora
