// The settings in the Windows registry: key "Software\Velmora\USBTool" under
// HKEY_LOCAL_MACHINE, ISPSetting as REG_DWORD and the three texts as REG_SZ. The key is reached
// in the registry's 32-bit view, where a 32-bit build keeps it on 64-bit Windows, so builds of
// either bitness share one set of settings.
#pragma once

#include "settings_store.h"

namespace velmora {

inline constexpr const char* kSettingsKeyPath = "Software\\Velmora\\USBTool";

class RegistrySettingsStore final : public SettingsStore {
 public:
  // Nullopt when the key cannot be opened for reading. Each text is read whole: a first query
  // learns its size, a second reads it.
  std::optional<StoredSettings> Load() override;
  // Creates or opens the key with all access (false when that is refused, for instance without
  // the right to write under HKEY_LOCAL_MACHINE), writes the values, flushes and closes it.
  bool Save(const StoredSettings& values) override;
};

}  // namespace velmora
