#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define VELMORA_POSIX_FILES 1
#endif

namespace velmora {
namespace {

namespace fs = std::filesystem;

// Links followed before a chain is taken for a loop.
constexpr int kMaxLinkHops = 40;

// Names the file as the user gave it, with the system's reason.
FileWriteResult Failure(const std::string& what, const std::string& path, int error_number) {
  return {false, what + " \"" + path + "\": " + std::strerror(error_number)};
}

// The file a write to `path` must change: the end of its chain of symbolic links (a link's
// relative target counts from the link's folder). Replacing the link itself would cut it off
// from the file it names. The end need not exist yet.
bool ResolveLinks(const fs::path& path, fs::path& resolved) {
  resolved = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(resolved, error))) return true;
    const fs::path next = fs::read_symlink(resolved, error);
    if (error) return false;
    resolved = next.is_absolute() ? next : resolved.parent_path() / next;
  }
  return false;
}

// A name beside the target that no other writer is likely to pick.
fs::path TemporaryBeside(const fs::path& target) {
  std::random_device entropy;
  const auto tag = std::to_string(entropy()) + std::to_string(entropy());
  fs::path temporary = target;
  temporary.replace_filename("." + target.filename().string() + "." + tag + ".part");
  return temporary;
}

// Creates the temporary file. When it replaces an existing file it gets that file's mode from
// the start, so a private file is never readable by others, not even for a moment; a new file
// gets the usual mode for new files.
std::FILE* CreateTemporary(const fs::path& temporary, const fs::path& target) {
#ifdef VELMORA_POSIX_FILES
  struct stat existing {};
  const bool replaces = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  // 0666 less the umask for a new file; an overwritten file's mode exactly, set before a byte
  // is written.
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replaces ? 0600 : 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = nullptr;
  if (!replaces || ::fchmod(fd, existing.st_mode & 07777) == 0) file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    std::error_code ignored;
    fs::remove(temporary, ignored);
    errno = error;
  }
  return file;
#else
  (void)target;
  return std::fopen(temporary.string().c_str(), "wb");
#endif
}

// Writes and flushes everything to disk; false with errno set on the first failure.
bool WriteAll(std::FILE* file, std::span<const std::uint8_t> bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    return false;
  }
  if (std::fflush(file) != 0) return false;
#ifdef VELMORA_POSIX_FILES
  if (::fsync(::fileno(file)) != 0) return false;
#endif
  return true;
}

}  // namespace

FileWriteResult WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const fs::path named(path);
  if (named.filename().empty()) return {false, "Cannot write \"" + path + "\": no file name"};
  fs::path target;
  if (!ResolveLinks(named, target)) return Failure("Cannot follow", path, ELOOP);
  // Only a regular file is replaced. Renaming over a device node or a named pipe would swap it
  // for a plain file (run as root, "dump to /dev/null" would replace /dev/null).
  std::error_code status_error;
  const fs::file_status existing = fs::status(target, status_error);
  if (fs::exists(existing) && !fs::is_regular_file(existing)) {
    return {false, "Cannot write \"" + path + "\": not a regular file"};
  }
  const fs::path temporary = TemporaryBeside(target);

  std::FILE* file = CreateTemporary(temporary, target);
  if (file == nullptr) return Failure("Cannot create", path, errno);

  const bool written = WriteAll(file, bytes);
  const int write_error = errno;
  const bool closed = std::fclose(file) == 0;
  const int close_error = errno;
  std::error_code ignored;
  if (!written || !closed) {
    fs::remove(temporary, ignored);
    return Failure("Cannot write", path, written ? close_error : write_error);
  }

  std::error_code renamed;
  fs::rename(temporary, target, renamed);
  if (renamed) {
    fs::remove(temporary, ignored);
    return {false, "Cannot replace \"" + path + "\": " + renamed.message()};
  }
  return {true, {}};
}

}  // namespace velmora
