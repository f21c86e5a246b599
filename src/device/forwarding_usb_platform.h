// A USB platform that hands every call to another one it does not own. A wrapper derives from it
// and overrides only what it changes (a device filter, a bus shared by tests that outlives a run).
#pragma once

#include "usb_platform.h"

namespace velmora {

class ForwardingUsbPlatform : public UsbPlatform {
 public:
  // `inner` must outlive this platform.
  explicit ForwardingUsbPlatform(UsbPlatform& inner) : inner_(inner) {}

  bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) override {
    return inner_.EnumerateInterfaces(backend, paths);
  }
  UsbHandle Open(const std::string& path) override { return inner_.Open(path); }
  void Close(UsbHandle handle) override { inner_.Close(handle); }
  bool ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                       std::uint8_t* data, std::uint32_t length) override {
    return inner_.ControlTransfer(handle, backend, setup, data, length);
  }
  bool Probe(UsbHandle handle, Backend backend) override { return inner_.Probe(handle, backend); }
  std::string LastError() const override { return inner_.LastError(); }
  std::string SerialNumber(const std::string& path) override { return inner_.SerialNumber(path); }

 protected:
  UsbPlatform& inner_;
};

}  // namespace velmora
