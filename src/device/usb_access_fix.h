// What to tell a user whom the system denies the USB device: the fix depends on how the tool
// was installed and on whether the udev rule is in place already.
#pragma once

#include <functional>
#include <string>

namespace velmora {

// The words after "no permission to use the USB device. ", for a program running from
// `program_path` on a system where `file_exists` tells which files are there:
// - the rule is installed (under /usr/lib/udev, /lib/udev or /etc/udev): replug the device; a
//   user without a seat of their own (SSH, a headless bench) joins the plugdev group;
// - the program is a package's (/usr/bin): reinstall the package, which brings the rule;
// - otherwise (a build tree, /usr/local): install the rule with cmake --install, reload udev.
// Every text names the rule 70-velmora-usbtool.rules.
std::string UsbAccessFix(const std::string& program_path,
                         const std::function<bool(const std::string&)>& file_exists);

// The path of the running program ("" when it cannot be told), and the fix for this system.
std::string RunningProgramPath();
std::string UsbAccessFixHere();

}  // namespace velmora
