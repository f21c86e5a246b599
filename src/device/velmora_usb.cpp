#include "velmora_usb.h"

#include <vector>

namespace velmora {

VelmoraUsb::VelmoraUsb(UsbPlatform& platform) : platform_(platform) {}

VelmoraUsb::~VelmoraUsb() {
  Close();
}

void VelmoraUsb::SetMatchText(std::string_view text) {
  match_text_.assign(text.substr(0, kMaxMatchText));
}

template <typename OnMatch>
bool VelmoraUsb::Search(OnMatch on_match) {
  std::vector<std::string> paths;
  if (!platform_.EnumerateInterfaces(ActiveBackend(), paths)) return false;
  bool matched = false;
  for (const std::string& path : paths) {
    // A path longer than the field could only be stored cut short, and a cut path would open
    // another device: such an interface is skipped like an unreadable one.
    if (path.size() > kMaxDevicePath) continue;
    // An empty match text matches nothing (a substring search would match everything).
    if (match_text_.empty() || path.find(match_text_) == std::string::npos) continue;
    matched = true;
    on_match(path);
  }
  return matched;
}

bool VelmoraUsb::FindDevice() {
  bool outcome = false;
  Search([&](const std::string& path) {
    device_path_ = path;
    found_ = 1;
    outcome = false;
    const UsbHandle probe = platform_.Open(device_path_);
    if (probe == kInvalidHandle || probe == kNoHandle) return;
    outcome = platform_.Probe(probe, ActiveBackend());
    platform_.Close(probe);
  });
  return outcome;
}

bool VelmoraUsb::CheckPresence() {
  found_ = Search([](const std::string&) {}) ? 1 : 0;
  return found_ != 0;
}

bool VelmoraUsb::Open() {
  Close();
  handle_ = platform_.Open(device_path_);
  if (handle_ == kNoHandle) handle_ = kInvalidHandle;  // a platform must never hand out 0
  return handle_ != kInvalidHandle;
}

void VelmoraUsb::Close() {
  if (handle_ == kNoHandle) return;
  platform_.Close(handle_);
  handle_ = kNoHandle;
}

bool VelmoraUsb::ControlTransfer(std::uint8_t request_type, std::uint8_t request,
                                 std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                                 std::uint32_t length) {
  if (handle_ == kNoHandle) return false;
  const ControlSetup setup{request_type, request, value, index};
  return platform_.ControlTransfer(handle_, ActiveBackend(), setup, data, length);
}

}  // namespace velmora
