#include "libusb_usb_platform.h"

#include <libusb.h>

#include <cstdio>
#include <cstring>

#include "usb_access_fix.h"

namespace velmora {
namespace {

// The standard GET_DESCRIPTOR request for the device descriptor.
constexpr std::uint8_t kGetDescriptorType = 0x80;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint16_t kDeviceDescriptorValue = 0x0100;
constexpr std::uint16_t kDeviceDescriptorLength = 18;
constexpr int kMaxPortDepth = 7;  // USB allows at most 7 tiers below the root hub

// Releases a device list on every path out of a function.
class DeviceList {
 public:
  explicit DeviceList(libusb_context* context) { count_ = libusb_get_device_list(context, &list_); }
  ~DeviceList() {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  // The number of devices, or a negative libusb error.
  ssize_t Count() const { return count_; }
  libusb_device* operator[](ssize_t i) const { return list_[i]; }

 private:
  libusb_device** list_ = nullptr;
  ssize_t count_ = 0;
};

}  // namespace

LibusbUsbPlatform::LibusbUsbPlatform(unsigned timeout_ms) : timeout_ms_(timeout_ms) {
  const int result = libusb_init(&context_);
  if (result != LIBUSB_SUCCESS) {
    context_ = nullptr;
    Fail("Cannot start the USB library", result);
  }
}

LibusbUsbPlatform::~LibusbUsbPlatform() {
  for (auto& [id, handle] : handles_) libusb_close(handle);
  handles_.clear();
  if (context_ != nullptr) libusb_exit(context_);
}

void LibusbUsbPlatform::Fail(const std::string& what, int error) {
  if (error == LIBUSB_ERROR_ACCESS) {
    last_error_ = what + ": no permission to use the USB device. " + UsbAccessFixHere();
    return;
  }
  last_error_ = what + ": " + libusb_strerror(error);
}

std::string LibusbUsbPlatform::IdentityPath(std::uint16_t vendor_id, std::uint16_t product_id,
                                            std::uint8_t bus,
                                            const std::vector<std::uint8_t>& ports,
                                            std::uint8_t address) {
  char ids[40];
  std::snprintf(ids, sizeof ids, "usb:vid_%04x&pid_%04x:bus%u-", vendor_id, product_id,
                static_cast<unsigned>(bus));
  std::string path = ids;
  if (ports.empty()) return path + "addr" + std::to_string(address);
  path += "port";
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (i > 0) path += '.';
    path += std::to_string(ports[i]);
  }
  return path;
}

std::string LibusbUsbPlatform::PathOf(libusb_device* device) {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return "";
  std::uint8_t ports[kMaxPortDepth];
  const int depth = libusb_get_port_numbers(device, ports, kMaxPortDepth);
  std::vector<std::uint8_t> port_path;
  if (depth > 0) port_path.assign(ports, ports + depth);
  return IdentityPath(descriptor.idVendor, descriptor.idProduct, libusb_get_bus_number(device),
                      port_path, libusb_get_device_address(device));
}

bool LibusbUsbPlatform::EnumerateInterfaces(Backend, std::vector<std::string>& paths) {
  paths.clear();
  if (context_ == nullptr) return false;
  DeviceList list(context_);
  if (list.Count() < 0) {
    Fail("Cannot list the USB devices", static_cast<int>(list.Count()));
    return false;
  }
  for (ssize_t i = 0; i < list.Count(); ++i) {
    std::string path = PathOf(list[i]);
    if (!path.empty()) paths.push_back(std::move(path));  // unreadable descriptor: skipped
  }
  return true;
}

UsbHandle LibusbUsbPlatform::Open(const std::string& path) {
  if (context_ == nullptr) return kInvalidHandle;
  DeviceList list(context_);
  if (list.Count() < 0) {
    Fail("Cannot list the USB devices", static_cast<int>(list.Count()));
    return kInvalidHandle;
  }
  for (ssize_t i = 0; i < list.Count(); ++i) {
    if (PathOf(list[i]) != path) continue;
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(list[i], &handle);
    if (result != LIBUSB_SUCCESS) {
      Fail("Cannot open " + path, result);
      return kInvalidHandle;
    }
    const UsbHandle id = next_handle_++;
    handles_[id] = handle;
    return id;
  }
  last_error_ = "Cannot open " + path + ": the device is not connected";
  return kInvalidHandle;
}

void LibusbUsbPlatform::Close(UsbHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return;
  libusb_close(it->second);
  handles_.erase(it);
}

libusb_device_handle* LibusbUsbPlatform::HandleOf(UsbHandle handle) {
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second;
}

bool LibusbUsbPlatform::ControlTransfer(UsbHandle handle, Backend, const ControlSetup& setup,
                                        std::uint8_t* data, std::uint32_t length) {
  libusb_device_handle* device = HandleOf(handle);
  if (device == nullptr) {
    last_error_ = "No open USB device";
    return false;
  }
  if (length > 0xFFFF) {
    last_error_ = "A control transfer carries at most 65535 bytes";
    return false;
  }
  if (data == nullptr && length != 0) {
    last_error_ = "A control transfer with a data stage needs a buffer";
    return false;
  }
  // The answer lands in a buffer of our own first, so a failed transfer leaves the caller's
  // bytes as they were.
  std::vector<unsigned char> buffer(length);
  if (!setup.DeviceToHost() && length > 0) std::memcpy(buffer.data(), data, length);
  const int result =
      libusb_control_transfer(device, setup.request_type, setup.request, setup.value, setup.index,
                              buffer.data(), static_cast<std::uint16_t>(length), timeout_ms_);
  if (result < 0) {
    Fail("USB control transfer failed", result);
    return false;
  }
  if (setup.DeviceToHost() && result > 0) {
    std::memcpy(data, buffer.data(), static_cast<std::size_t>(result));
  }
  return true;
}

bool LibusbUsbPlatform::Probe(UsbHandle handle, Backend backend) {
  std::uint8_t descriptor[kDeviceDescriptorLength] = {};
  const ControlSetup setup{kGetDescriptorType, kGetDescriptor, kDeviceDescriptorValue, 0};
  return ControlTransfer(handle, backend, setup, descriptor, sizeof descriptor);
}

}  // namespace velmora
