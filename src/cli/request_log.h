// --verbose: a USB platform that hands every call on to the real one and prints it, one line per
// request, so a technician can see exactly what went to the device and what came back.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "usb_platform.h"

namespace velmora::cli {

class RequestLog final : public UsbPlatform {
 public:
  // Lines go to `out`; `inner` does the work and must outlive this.
  RequestLog(UsbPlatform& inner, std::ostream& out) : inner_(inner), out_(out) {}

  bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) override;
  UsbHandle Open(const std::string& path) override;
  void Close(UsbHandle handle) override;
  // "usb: C3 82 0000 0000 len 3 -> ok C2 20 13": the setup bytes, the length, the outcome and
  // the data stage (sent for OUT, received for IN; the first 16 bytes and a count of the rest).
  bool ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                       std::uint8_t* data, std::uint32_t length) override;
  bool Probe(UsbHandle handle, Backend backend) override;
  std::string LastError() const override { return inner_.LastError(); }
  std::string SerialNumber(const std::string& path) override { return inner_.SerialNumber(path); }

 private:
  UsbPlatform& inner_;
  std::ostream& out_;
};

}  // namespace velmora::cli
