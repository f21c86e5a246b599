// The USB platform on Windows: SetupAPI lists the interfaces of the back-end's interface class,
// CreateFileA opens one, and each control transfer is one DeviceIoControl call in the wire format
// of the selected driver (see wire_formats.h). Built on Windows; the tests also build it on other
// hosts against a recording stand-in for the Windows calls.
//
// Handles: a Windows HANDLE travels as UsbHandle unchanged, so INVALID_HANDLE_VALUE is
// kInvalidHandle (-1). Calls on kInvalidHandle or kNoHandle fail without reaching the system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "usb_platform.h"

namespace velmora {

class Win32UsbPlatform final : public UsbPlatform {
 public:
  // Paths of the present interfaces of the back-end's class, in SetupAPI's order. An interface
  // whose path cannot be read is skipped; false when the class list cannot be obtained.
  bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) override;

  // CreateFileA for reading and writing, shared reading and writing, existing object only.
  UsbHandle Open(const std::string& path) override;
  void Close(UsbHandle handle) override;

  // Generic back-end: the 24-byte request record with 0x22242E (IN) or 0x222429 (OUT). Property
  // back-end: the property request in a zero-filled LocalAlloc block with 0x2F0003. Either way the
  // caller's buffer is the call's output buffer of `length` bytes. An IN answer reaches `data`
  // only when the call succeeded.
  bool ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                       std::uint8_t* data, std::uint32_t length) override;

  // Generic back-end: GET_DESCRIPTOR for the device descriptor into an 18-byte scratch buffer.
  // Property back-end: KSPROPERTY set-support query for the control-transfer property set.
  bool Probe(UsbHandle handle, Backend backend) override;

  // The system's words for the last failed call (FormatMessageA), or "" when none failed yet.
  std::string LastError() const override;

 private:
  // Calls DeviceIoControl and records GetLastError on failure.
  bool DriverCall(UsbHandle handle, std::uint32_t code, const void* input, std::uint32_t input_size,
                  void* output, std::uint32_t output_size);
  // Remembers the calling thread's last error as this platform's last failure.
  void RememberLastError();

  std::uint32_t last_error_ = 0;
};

}  // namespace velmora
