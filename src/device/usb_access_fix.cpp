#include "usb_access_fix.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace velmora {
namespace {

constexpr const char* kRule = "70-velmora-usbtool.rules";
constexpr std::array<const char*, 3> kRuleFolders{"/usr/lib/udev/rules.d/", "/lib/udev/rules.d/",
                                                  "/etc/udev/rules.d/"};
constexpr const char* kJoinPlugdev =
    "Logged in over SSH or on a bench without a seat, join the group plugdev "
    "(sudo usermod -aG plugdev $USER) and log in again.";

}  // namespace

std::string UsbAccessFix(const std::string& program_path,
                         const std::function<bool(const std::string&)>& file_exists) {
  for (const char* folder : kRuleFolders) {
    const std::string rule = std::string(folder) + kRule;
    if (file_exists(rule)) {
      return "The udev rule " + rule + " is installed: unplug the device and plug it in again. " +
             kJoinPlugdev;
    }
  }
  if (program_path.starts_with("/usr/bin/")) {
    return std::string("The udev rule ") + kRule +
           " is missing: reinstall the package (sudo apt install --reinstall velmora-usbtool) "
           "and replug the device.";
  }
  return std::string("Install the udev rule ") + kRule +
         " (sudo cmake --install build, then sudo udevadm control --reload && sudo udevadm "
         "trigger) and replug the device.";
}

std::string RunningProgramPath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

std::string UsbAccessFixHere() {
  return UsbAccessFix(RunningProgramPath(), [](const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
  });
}

}  // namespace velmora
