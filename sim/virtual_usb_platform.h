// The virtual USB platform: devices plugged in under identity paths, plugged and unplugged at
// any time, every call recorded in a transcript.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "transcript.h"
#include "usb_platform.h"

namespace velmora::sim {

// The firmware side of one virtual device.
class VirtualDevice {
 public:
  virtual ~VirtualDevice() = default;
  // Answers one control transfer. For device-to-host transfers writes up to `length` bytes into
  // `data`. Returns false for a failed transfer (stall, error); `data` is then left as it was.
  virtual bool HandleControl(Backend backend, const ControlSetup& setup, std::uint8_t* data,
                             std::uint32_t length) = 0;
  // Answers the driver probe of a search. The default device answers it.
  virtual bool HandleProbe(Backend) { return true; }
};

// Which back-ends list the device. On libusb every device is reachable both ways; on Windows a
// device is bound to one driver.
enum class Visibility { Both, GenericOnly, PropertyOnly };

class VirtualUsbPlatform final : public UsbPlatform {
 public:
  explicit VirtualUsbPlatform(Transcript* transcript = nullptr) : transcript_(transcript) {}

  // Plugs `device` in under `path` (appended to the enumeration order). The platform does not
  // own the device. Plugging a path again replaces its device.
  void Plug(const std::string& path, VirtualDevice* device,
            Visibility visibility = Visibility::Both);
  // Unplugs `path`: later enumerations miss it and open handles on it fail every transfer.
  void Unplug(const std::string& path);
  bool IsPlugged(const std::string& path) const;
  // Makes the next enumerations fail as if no interface list could be obtained.
  void SetEnumerationFails(bool fails) { enumeration_fails_ = fails; }
  // Makes every Open of `path` fail (kInvalidHandle) while the device stays listed, as a device
  // node the user may not open.
  void SetOpenFails(const std::string& path, bool fails = true);
  void SetTranscript(Transcript* transcript) { transcript_ = transcript; }
  // The serial string the device under `path` reports.
  void SetSerialNumber(const std::string& path, std::string serial) {
    serials_[path] = std::move(serial);
  }
  std::string SerialNumber(const std::string& path) override {
    const auto it = serials_.find(path);
    return it == serials_.end() ? "" : it->second;
  }
  // Number of handles currently open (tests check that handlers close what they open).
  std::size_t OpenHandleCount() const { return handles_.size(); }

  bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) override;
  UsbHandle Open(const std::string& path) override;
  void Close(UsbHandle handle) override;
  bool ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                       std::uint8_t* data, std::uint32_t length) override;
  bool Probe(UsbHandle handle, Backend backend) override;
  std::string LastError() const override { return last_error_; }

 private:
  struct Slot {
    std::string path;
    VirtualDevice* device;
    Visibility visibility;
    bool plugged;
  };
  Slot* Find(const std::string& path);
  VirtualDevice* DeviceOf(UsbHandle handle);
  void Record(TranscriptEvent event);

  Transcript* transcript_;
  std::vector<Slot> slots_;
  std::map<UsbHandle, std::string> handles_;  // open handle -> path
  UsbHandle next_handle_ = 1;
  bool enumeration_fails_ = false;
  std::set<std::string> unopenable_;
  std::map<std::string, std::string> serials_;
  std::string last_error_;
};

}  // namespace velmora::sim
