// One program per device: a run holds an exclusive lock named after the device's port path for
// its whole duration, so a second run on the same device refuses at once instead of interleaving
// its requests. A lock file under flock() on Linux and macOS, a named mutex on Windows; either is
// released by the system when the process ends, even by SIGKILL.
#pragma once

#include <memory>
#include <string>

namespace velmora {

class DeviceLock {
 public:
  // Takes the lock for `port_path`. Returns nullptr with `error` in words when another program
  // holds it ("The device 1-4.2 is in use by another program") or it cannot be made. The lock
  // files live in $VELMORA_LOCK_DIR, else the system's temporary folder.
  static std::unique_ptr<DeviceLock> Acquire(const std::string& port_path, std::string& error);
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  DeviceLock() = default;
#ifdef _WIN32
  void* mutex_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// The lock's name: "velmora-usbtool-" and the port path with every character but letters and
// digits replaced by '_'.
std::string DeviceLockName(const std::string& port_path);

}  // namespace velmora
