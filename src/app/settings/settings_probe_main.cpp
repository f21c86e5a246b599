// velmora-settingsprobe: prints the settings the tool would load from the registry, so an
// installation's values can be checked without starting the window. Exit code 0 when the key
// was read, 1 when there is none.
//
//   velmora-settingsprobe save ISPSETTING FILE VID PID
//     saves the four values through the registry store first (ISPSETTING a number, 0x for hex),
//     then loads and prints them the same way: exit 0 when what was loaded is what was saved,
//     1 when it differs or cannot be read, 2 when the save failed or the arguments are wrong.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "isp_setting.h"
#include "registry_settings_store.h"

namespace {

void PrintText(const char* name, const std::optional<std::string>& text) {
  if (text) {
    std::printf("%s = \"%s\"\n", name, text->c_str());
  } else {
    std::printf("%s: absent\n", name);
  }
}

void Print(const velmora::StoredSettings& values) {
  if (values.isp_setting) {
    const velmora::IspSetting isp = velmora::DecodeIspSetting(*values.isp_setting);
    std::printf("%s = 0x%08X (steps", velmora::kIspSettingName,
                static_cast<unsigned>(*values.isp_setting));
    for (bool step : isp.steps) std::printf(" %d", step ? 1 : 0);
    std::printf(", range %s, start %d KB, size %d KB)\n", isp.range_all ? "All" : "Assign",
                isp.start_kb, isp.size_kb);
  } else {
    std::printf("%s: absent\n", velmora::kIspSettingName);
  }
  PrintText(velmora::kIspFileNameName, values.isp_file_name);
  PrintText(velmora::kUsbVidName, values.usb_vid);
  PrintText(velmora::kUsbPidName, values.usb_pid);
}

bool Same(const velmora::StoredSettings& a, const velmora::StoredSettings& b) {
  return a.isp_setting == b.isp_setting && a.isp_file_name == b.isp_file_name &&
         a.usb_vid == b.usb_vid && a.usb_pid == b.usb_pid;
}

}  // namespace

int main(int argc, char** argv) {
  velmora::RegistrySettingsStore store;
  std::optional<velmora::StoredSettings> saved;
  if (argc > 1) {
    char* end = nullptr;
    const unsigned long isp = argc == 6 ? std::strtoul(argv[2], &end, 0) : 0;
    if (argc != 6 || std::string(argv[1]) != "save" || end == argv[2] || *end != '\0') {
      std::fprintf(stderr, "usage: velmora-settingsprobe [save ISPSETTING FILE VID PID]\n");
      return 2;
    }
    saved = velmora::StoredSettings{static_cast<std::uint32_t>(isp), argv[3], argv[4], argv[5]};
    if (!store.Save(*saved)) {
      std::printf("HKEY_LOCAL_MACHINE\\%s: not saved\n", velmora::kSettingsKeyPath);
      return 2;
    }
  }
  const std::optional<velmora::StoredSettings> values = store.Load();
  if (!values) {
    std::printf("HKEY_LOCAL_MACHINE\\%s: absent\n", velmora::kSettingsKeyPath);
    return 1;
  }
  Print(*values);
  if (saved && !Same(*saved, *values)) {
    std::printf("loaded values differ from the saved ones\n");
    return 1;
  }
  return 0;
}
