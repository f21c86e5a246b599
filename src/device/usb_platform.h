// The USB platform seam: enumeration, open/close and one control transfer at a time.
// Implementations: libusb (Linux/macOS), Win32 (SetupAPI + DeviceIoControl), virtual (tests, demo).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// Which kernel driver carries the transfer. On Windows this picks the interface class searched
// and the wire format; other platforms carry it along so tests and logs can see it.
enum class Backend : std::uint8_t { Generic = 0, Property = 1 };

// The five setup values of a control transfer except the length, which travels beside the data.
struct ControlSetup {
  std::uint8_t request_type = 0;  // bmRequestType; bit 7 set = device-to-host
  std::uint8_t request = 0;       // bRequest
  std::uint16_t value = 0;        // wValue
  std::uint16_t index = 0;        // wIndex

  bool DeviceToHost() const { return (request_type & 0x80) != 0; }
};

// Opaque handle of an opened interface path. 0 means "no handle"; kInvalidHandle is what a failed
// open leaves behind (the platform must accept it in ControlTransfer/Close and fail there).
using UsbHandle = std::intptr_t;
inline constexpr UsbHandle kNoHandle = 0;
inline constexpr UsbHandle kInvalidHandle = -1;

class UsbPlatform {
 public:
  virtual ~UsbPlatform() = default;

  // Lists the identity paths of the present interfaces of the class that `backend` reaches, in
  // enumeration order. Each path of a USB device contains "vid_XXXX&pid_XXXX" (lower-case hex).
  // Entries whose path cannot be read are left out. Returns false when no list can be obtained.
  virtual bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) = 0;

  // Opens an identity path for reading and writing. Returns a handle > 0, or kInvalidHandle.
  virtual UsbHandle Open(const std::string& path) = 0;

  // Closes a handle returned by Open. Closing kInvalidHandle does nothing.
  virtual void Close(UsbHandle handle) = 0;

  // One control transfer on `handle`, encoded for `backend`. For device-to-host transfers up to
  // `length` bytes of the answer are written to `data`; otherwise `length` bytes of `data` are
  // sent. Returns whether the driver call succeeded; on failure `data` keeps its contents.
  // A nonzero `length` with a null `data` fails without reaching the device.
  virtual bool ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                               std::uint8_t* data, std::uint32_t length) = 0;

  // Asks the driver behind `handle` whether it answers at all: a device-descriptor read on the
  // generic back-end, a property-set support query on the property back-end.
  virtual bool Probe(UsbHandle handle, Backend backend) = 0;

  // Words describing the last failure of this platform (for example missing permission), or "".
  virtual std::string LastError() const = 0;

  // The device's serial string behind an identity path, or "" when it has none or cannot be
  // read. Used only to list devices; the default knows none.
  virtual std::string SerialNumber(const std::string& /*path*/) { return ""; }
};

}  // namespace velmora
