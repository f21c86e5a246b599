// velmora-settingsprobe: prints the settings the tool would load from the registry, so an
// installation's values can be checked without starting the window. Exit code 0 when the key
// was read, 1 when there is none.
#include <cstdio>
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

}  // namespace

int main() {
  velmora::RegistrySettingsStore store;
  const std::optional<velmora::StoredSettings> values = store.Load();
  if (!values) {
    std::printf("HKEY_LOCAL_MACHINE\\%s: absent\n", velmora::kSettingsKeyPath);
    return 1;
  }
  if (values->isp_setting) {
    const velmora::IspSetting isp = velmora::DecodeIspSetting(*values->isp_setting);
    std::printf("%s = 0x%08X (steps", velmora::kIspSettingName,
                static_cast<unsigned>(*values->isp_setting));
    for (bool step : isp.steps) std::printf(" %d", step ? 1 : 0);
    std::printf(", range %s, start %d KB, size %d KB)\n", isp.range_all ? "All" : "Assign",
                isp.start_kb, isp.size_kb);
  } else {
    std::printf("%s: absent\n", velmora::kIspSettingName);
  }
  PrintText(velmora::kIspFileNameName, values->isp_file_name);
  PrintText(velmora::kUsbVidName, values->usb_vid);
  PrintText(velmora::kUsbPidName, values->usb_pid);
  return 0;
}
