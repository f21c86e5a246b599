// Every device the tool may talk to, with the words a bench needs to tell them apart: the USB
// bus-port path ("1-4.2"), the ids, the kind and the serial string. Used to pick one device when
// several are plugged in, and to restrict a device link to that one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb_platform.h"

namespace velmora {

struct ListedDevice {
  std::string identity;   // the platform's identity path, as the device link records it
  std::string port_path;  // "1-4.2" on libusb; the identity itself where the system gives none
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  Backend backend = Backend::Property;  // Property: the audio device; Generic: a loader
  std::string serial;                   // the serial string, "" when the device has none
};

// "1-4.2" from "usb:vid_6ccf&pid_6012:bus1-port4.2"; identities of another form come back whole.
std::string PortPathOf(const std::string& identity);

// The audio device under `vid`:`pid` (property back-end) and the two firmware-update loaders
// 6ccf:6000 and 1d7a:6000 (generic back-end), in that order and then in enumeration order. An
// identity listed by both back-ends is listed once, under the first. Nothing when no list can be
// obtained.
std::vector<ListedDevice> ListMatchingDevices(UsbPlatform& platform, std::uint16_t vid,
                                              std::uint16_t pid);

// The device `wanted` names (its port path or its whole identity), or nullptr.
const ListedDevice* FindNamedDevice(const std::vector<ListedDevice>& devices,
                                    const std::string& wanted);

// One line per device: "1-4.2  6ccf:6012  audio device  serial VL000017".
std::string DescribeDevices(const std::vector<ListedDevice>& devices);

// A platform that shows only the interfaces whose identity is `identity`; everything else goes
// to `inner`. A device link over it finds that one device and no other.
std::unique_ptr<UsbPlatform> OnlyDevice(UsbPlatform& inner, std::string identity);

}  // namespace velmora
