#include "output_paths.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#define VELMORA_ACCESS _access
constexpr int kWriteAccess = 2;
#else
#include <unistd.h>
#define VELMORA_ACCESS ::access
constexpr int kWriteAccess = W_OK;
#endif

namespace velmora::cli {
namespace {

namespace fs = std::filesystem;

std::string CannotWrite(const NamedFile& file, const std::string& reason) {
  return "Cannot write " + file.role + " \"" + file.path + "\": " + reason;
}

bool Writable(const fs::path& path) {
  return VELMORA_ACCESS(path.string().c_str(), kWriteAccess) == 0;
}

// A file nobody may write, also when this process could (as root it always can).
bool ReadOnly(const fs::file_status& status) {
  constexpr fs::perms kAnyWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  return (status.permissions() & kAnyWrite) == fs::perms::none;
}

// Whether two names reach one file: the same inode when both exist, else the same name once
// links and dots are resolved.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
  const fs::path left = fs::weakly_canonical(a, error);
  if (error) return false;
  const fs::path right = fs::weakly_canonical(b, error);
  return !error && left == right;
}

std::optional<std::string> CheckOne(const NamedFile& file) {
  const fs::path path(file.path);
  if (file.path.empty() || path.filename().empty()) return CannotWrite(file, "no file name");
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::exists(status)) {
    if (!fs::is_regular_file(status)) return CannotWrite(file, "not a regular file");
    if (ReadOnly(status)) return CannotWrite(file, "the file is read-only");
    if (!Writable(path)) return CannotWrite(file, std::strerror(errno));
  }
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const fs::file_status folder_status = fs::status(folder, error);
  if (!fs::exists(folder_status)) return CannotWrite(file, std::strerror(ENOENT));
  if (!fs::is_directory(folder_status)) return CannotWrite(file, std::strerror(ENOTDIR));
  // The file is replaced through a new file beside it, so the folder itself must be writable.
  if (!Writable(folder)) return CannotWrite(file, std::strerror(errno));
  return std::nullopt;
}

}  // namespace

std::optional<std::string> OutputRefusal(const std::vector<NamedFile>& inputs,
                                         const std::vector<NamedFile>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (auto refusal = CheckOne(outputs[i])) return refusal;
    for (const NamedFile& input : inputs) {
      if (SameFile(outputs[i].path, input.path)) {
        return CannotWrite(outputs[i], "it is " + input.role + " \"" + input.path + "\"");
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (SameFile(outputs[i].path, outputs[j].path)) {
        return CannotWrite(outputs[i], "it is also " + outputs[j].role);
      }
    }
  }
  return std::nullopt;
}

}  // namespace velmora::cli
