#include "settings_places.h"

#include "ini_settings_store.h"
#ifdef _WIN32
#include "registry_settings_store.h"
#endif

namespace velmora {

namespace {
constexpr const char* kOrganisation = "Velmora";
}  // namespace

std::unique_ptr<SettingsStore> MakeToolSettingsStore() {
#ifdef _WIN32
  return std::make_unique<RegistrySettingsStore>();
#else
  return std::make_unique<IniSettingsStore>(
      IniSettingsStore::UserFilePath(kOrganisation, "USBTool"));
#endif
}

std::unique_ptr<SettingsStore> MakeDemoSettingsStore() {
  return std::make_unique<IniSettingsStore>(
      IniSettingsStore::UserFilePath(kOrganisation, "USBTool-demo"));
}

}  // namespace velmora
