#include "request_log.h"

#include <algorithm>
#include <cstdio>

namespace velmora::cli {
namespace {

constexpr std::uint32_t kBytesShown = 16;

const char* BackendName(Backend backend) {
  return backend == Backend::Property ? "property" : "generic";
}

std::string Bytes(const std::uint8_t* data, std::uint32_t length) {
  std::string text;
  char byte[4];
  for (std::uint32_t i = 0; i < std::min(length, kBytesShown); ++i) {
    std::snprintf(byte, sizeof byte, " %02X", data[i]);
    text += byte;
  }
  if (length > kBytesShown) text += " ... (" + std::to_string(length - kBytesShown) + " more)";
  return text;
}

}  // namespace

bool RequestLog::EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) {
  const bool ok = inner_.EnumerateInterfaces(backend, paths);
  out_ << "usb: list " << BackendName(backend) << " -> "
       << (ok ? std::to_string(paths.size()) + " interface(s)" : "failed") << '\n';
  return ok;
}

UsbHandle RequestLog::Open(const std::string& path) {
  const UsbHandle handle = inner_.Open(path);
  out_ << "usb: open " << path << " -> " << (handle == kInvalidHandle ? "failed" : "ok") << '\n';
  return handle;
}

void RequestLog::Close(UsbHandle handle) {
  inner_.Close(handle);
  out_ << "usb: close\n";
}

bool RequestLog::ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                                 std::uint8_t* data, std::uint32_t length) {
  char head[48];
  std::snprintf(head, sizeof head, "usb: %02X %02X %04X %04X len %u", setup.request_type,
                setup.request, setup.value, setup.index, static_cast<unsigned>(length));
  std::string line = head;
  if (!setup.DeviceToHost() && data != nullptr) line += " [" + Bytes(data, length) + " ]";
  const bool ok = inner_.ControlTransfer(handle, backend, setup, data, length);
  line += ok ? " -> ok" : " -> failed";
  if (ok && setup.DeviceToHost() && data != nullptr && length > 0) line += Bytes(data, length);
  out_ << line << '\n';
  return ok;
}

bool RequestLog::Probe(UsbHandle handle, Backend backend) {
  const bool ok = inner_.Probe(handle, backend);
  out_ << "usb: probe " << BackendName(backend) << " -> " << (ok ? "ok" : "failed") << '\n';
  return ok;
}

}  // namespace velmora::cli
