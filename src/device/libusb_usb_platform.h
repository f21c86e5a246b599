// The USB platform on Linux and macOS: libusb carries the control transfers straight to the
// device, so no kernel driver of ours is involved and both back-end selectors reach every device.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "usb_platform.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace velmora {

class LibusbUsbPlatform final : public UsbPlatform {
 public:
  static constexpr unsigned kDefaultTimeoutMs = 1000;

  // Starts a libusb context of its own. `timeout_ms` bounds every control transfer; a device that
  // never answers makes the transfer fail after that long. A failed start is kept in LastError()
  // and every later call fails.
  explicit LibusbUsbPlatform(unsigned timeout_ms = kDefaultTimeoutMs);
  ~LibusbUsbPlatform() override;  // closes the handles still open, then the context
  LibusbUsbPlatform(const LibusbUsbPlatform&) = delete;
  LibusbUsbPlatform& operator=(const LibusbUsbPlatform&) = delete;

  // Lists every present USB device as "usb:vid_XXXX&pid_XXXX:busB-portP[.P...]" (lower-case hex;
  // the port path from the root hub, or "busB-addrA" when the system gives none). The selector
  // does not narrow the list: libusb reaches a device whichever kernel driver holds it.
  bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) override;

  // Enumerates again and opens the device whose identity path equals `path`.
  UsbHandle Open(const std::string& path) override;
  void Close(UsbHandle handle) override;

  // One libusb control transfer with the caller's setup values; the data stage follows bit 7 of
  // bmRequestType. The selector travels along but changes nothing on the wire. Lengths above
  // 65535 cannot be expressed in wLength, and a data stage without a buffer, fail without a
  // transfer.
  bool ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                       std::uint8_t* data, std::uint32_t length) override;

  // Reads the 18-byte device descriptor (GET_DESCRIPTOR, 0x80 6 0x0100 0) on either selector.
  bool Probe(UsbHandle handle, Backend backend) override;

  std::string LastError() const override { return last_error_; }

  // Opens the device for a moment and reads its iSerialNumber string (ASCII).
  std::string SerialNumber(const std::string& path) override;

  // Builds the identity path of a device from its ids, bus and port path (empty: use `address`).
  static std::string IdentityPath(std::uint16_t vendor_id, std::uint16_t product_id,
                                  std::uint8_t bus, const std::vector<std::uint8_t>& ports,
                                  std::uint8_t address);

 private:
  std::string PathOf(libusb_device* device);
  libusb_device_handle* HandleOf(UsbHandle handle);
  // Remembers the words of a failed libusb call; `what` says what was attempted.
  void Fail(const std::string& what, int error);

  libusb_context* context_ = nullptr;
  unsigned timeout_ms_;
  std::map<UsbHandle, libusb_device_handle*> handles_;
  UsbHandle next_handle_ = 1;
  std::string last_error_;
};

}  // namespace velmora
