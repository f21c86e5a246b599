#include "device_list.h"

#include <algorithm>
#include <cstdio>

#include "forwarding_usb_platform.h"

namespace velmora {
namespace {

// The four hexadecimal digits after `key` in `identity`.
std::uint16_t IdAfter(const std::string& identity, const std::string& key) {
  const std::size_t at = identity.find(key);
  if (at == std::string::npos) return 0;
  return static_cast<std::uint16_t>(std::stoul(identity.substr(at + key.size(), 4), nullptr, 16));
}

// The platform seen through a filter that lists only one device.
class OnlyDevicePlatform final : public ForwardingUsbPlatform {
 public:
  OnlyDevicePlatform(UsbPlatform& inner, std::string identity)
      : ForwardingUsbPlatform(inner), identity_(std::move(identity)) {}
  bool EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) override {
    if (!inner_.EnumerateInterfaces(backend, paths)) return false;
    std::erase_if(paths, [this](const std::string& path) { return path != identity_; });
    return true;
  }

 private:
  const std::string identity_;
};

}  // namespace

std::string PortPathOf(const std::string& identity) {
  const std::size_t bus = identity.rfind(":bus");
  if (bus == std::string::npos) return identity;
  std::string rest = identity.substr(bus + 4);  // "1-port4.2" or "1-addr7"
  const std::size_t dash = rest.find('-');
  if (dash == std::string::npos) return identity;
  std::string where = rest.substr(dash + 1);
  if (where.starts_with("port")) where = where.substr(4);
  return rest.substr(0, dash) + "-" + where;
}

std::vector<ListedDevice> ListMatchingDevices(UsbPlatform& platform, std::uint16_t vid,
                                              std::uint16_t pid) {
  char audio[24];
  std::snprintf(audio, sizeof audio, "vid_%04x&pid_%04x", vid, pid);
  struct Wanted {
    Backend backend;
    std::string match;
  };
  const Wanted wanted[] = {{Backend::Property, audio},
                           {Backend::Generic, "vid_6ccf&pid_6000"},
                           {Backend::Generic, "vid_1d7a&pid_6000"}};
  std::vector<ListedDevice> found;
  for (const Wanted& w : wanted) {
    std::vector<std::string> paths;
    if (!platform.EnumerateInterfaces(w.backend, paths)) continue;
    for (const std::string& path : paths) {
      if (path.find(w.match) == std::string::npos) continue;
      const bool listed = std::any_of(found.begin(), found.end(),
                                      [&](const ListedDevice& d) { return d.identity == path; });
      if (listed) continue;
      found.push_back(ListedDevice{path, PortPathOf(path), IdAfter(path, "vid_"),
                                   IdAfter(path, "pid_"), w.backend, platform.SerialNumber(path)});
    }
  }
  return found;
}

const ListedDevice* FindNamedDevice(const std::vector<ListedDevice>& devices,
                                    const std::string& wanted) {
  for (const ListedDevice& device : devices) {
    if (device.port_path == wanted || device.identity == wanted) return &device;
  }
  return nullptr;
}

std::string DescribeDevices(const std::vector<ListedDevice>& devices) {
  std::string lines;
  for (const ListedDevice& d : devices) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", d.vid, d.pid);
    lines += d.port_path + "  " + ids + "  " +
             (d.backend == Backend::Property ? "audio device" : "firmware-update loader") +
             "  serial " + (d.serial.empty() ? "(none)" : d.serial) + '\n';
  }
  return lines;
}

std::unique_ptr<UsbPlatform> OnlyDevice(UsbPlatform& inner, std::string identity) {
  return std::make_unique<OnlyDevicePlatform>(inner, std::move(identity));
}

}  // namespace velmora
