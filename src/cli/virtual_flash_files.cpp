#include "virtual_flash_files.h"

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace velmora::cli {

std::optional<FlashFileLock> FlashFileLock::Take(const std::string& flash_file,
                                                 std::string& error) {
  const std::string lock_file = flash_file + ".lock";
#ifdef _WIN32
  // No sharing: a second open fails while the first handle lives.
  HANDLE handle = CreateFileA(lock_file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return FlashFileLock(reinterpret_cast<std::intptr_t>(handle));
#else
  const int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) return FlashFileLock(fd);
  if (fd >= 0) ::close(fd);
#endif
  error = "The virtual flash \"" + flash_file + "\" is in use by another run (lock \"" + lock_file +
          "\")";
  return std::nullopt;
}

FlashFileLock::~FlashFileLock() {
  if (handle_ == -1) return;
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
  ::close(static_cast<int>(handle_));
#endif
}

std::optional<VirtualChipState> LoadChipState(const std::string& flash_file) {
  std::ifstream in(flash_file + ".state");
  std::string isp_word, status_word;
  unsigned isp = 0, status = 0;
  if (!(in >> isp_word >> isp >> status_word >> std::hex >> status) || isp_word != "isp_mode" ||
      status_word != "status" || isp > 1 || status > 0xFF) {
    return std::nullopt;
  }
  return VirtualChipState{isp == 1, static_cast<std::uint8_t>(status)};
}

FileWriteResult SaveChipState(const std::string& flash_file, const VirtualChipState& state) {
  std::ostringstream text;
  text << "isp_mode " << (state.isp_mode ? 1 : 0) << "\nstatus " << std::hex
       << static_cast<unsigned>(state.status) << '\n';
  const std::string bytes = text.str();
  return WriteFileAtomically(
      flash_file + ".state",
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace velmora::cli
