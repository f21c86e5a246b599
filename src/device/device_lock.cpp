#include "device_lock.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace velmora {
namespace {

std::string InUse(const std::string& port_path) {
  return "The device " + port_path + " is in use by another program";
}

#ifndef _WIN32
std::filesystem::path LockFolder() {
  // Not the user's runtime folder: a device is shared by every user of the machine.
  const char* value = std::getenv("VELMORA_LOCK_DIR");
  if (value != nullptr && *value != '\0') return value;
  std::error_code ignored;
  return std::filesystem::temp_directory_path(ignored);
}
#endif

}  // namespace

std::string DeviceLockName(const std::string& port_path) {
  std::string name = "velmora-usbtool-";
  for (char c : port_path) {
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}

#ifdef _WIN32

std::unique_ptr<DeviceLock> DeviceLock::Acquire(const std::string& port_path, std::string& error) {
  // A per-session name: every program of this user on this desktop sees the same mutex.
  const std::string name = "Local\\" + DeviceLockName(port_path);
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  if (mutex == nullptr) {
    error = "Cannot make the lock " + name + " for the device " + port_path;
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    error = InUse(port_path);
    return nullptr;
  }
  std::unique_ptr<DeviceLock> lock(new DeviceLock);
  lock->mutex_ = mutex;
  return lock;
}

DeviceLock::~DeviceLock() {
  if (mutex_ != nullptr) {
    ReleaseMutex(static_cast<HANDLE>(mutex_));
    CloseHandle(static_cast<HANDLE>(mutex_));
  }
}

#else

std::unique_ptr<DeviceLock> DeviceLock::Acquire(const std::string& port_path, std::string& error) {
  const std::filesystem::path file = LockFolder() / (DeviceLockName(port_path) + ".lock");
  // Read-only is enough for flock(), so a file another user made serves as well.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "Cannot make the lock file " + file.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  // The file stays: removing it would let a third program lock a new file of the same name
  // while the second still holds the old one.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    error = InUse(port_path);
    return nullptr;
  }
  std::unique_ptr<DeviceLock> lock(new DeviceLock);
  lock->fd_ = fd;
  return lock;
}

DeviceLock::~DeviceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the file releases the lock
}

#endif

}  // namespace velmora
