// The settings in an INI file (Qt's INI format), where the registry is not: one value per name,
// ISPSetting as an unsigned decimal number and the texts as strings, the same names and
// meanings as in the registry.
#pragma once

#include <QString>

#include "settings_store.h"

namespace velmora {

class IniSettingsStore final : public SettingsStore {
 public:
  explicit IniSettingsStore(QString file_path) : path_(std::move(file_path)) {}

  // The file for `organisation` and `application` in the user's config folder, as Qt places
  // per-user INI settings (on Linux $XDG_CONFIG_HOME/Velmora/USBTool.ini, ~/.config by default).
  static QString UserFilePath(const QString& organisation, const QString& application);

  const QString& FilePath() const { return path_; }

  // Nullopt when the file does not exist, cannot be read or is not INI. ISPSetting other than a
  // number of 0 to 4294967295 is absent.
  std::optional<StoredSettings> Load() override;
  // Creates the file (and its folder) if need be. False when it cannot be written; the file then
  // stays as it was.
  bool Save(const StoredSettings& values) override;

 private:
  QString path_;
};

}  // namespace velmora
