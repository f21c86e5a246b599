#include "registry_settings_store.h"

#include <windows.h>

#include <cstddef>
#include <vector>

#include "registry_values.h"

namespace velmora {

namespace {

// Closes the key on every way out.
class OpenKey {
 public:
  explicit OpenKey(HKEY key) : key_(key) {}
  ~OpenKey() { RegCloseKey(key_); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

std::optional<std::vector<std::uint8_t>> QueryValue(HKEY key, const char* name, DWORD& type) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(size);
  // A value that changed size between the two queries is not read.
  if (RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  return bytes;
}

std::optional<std::uint32_t> ReadDword(HKEY key, const char* name) {
  DWORD type = 0;
  const auto bytes = QueryValue(key, name, type);
  if (!bytes) return std::nullopt;
  return DwordFromRegValue(type, *bytes);
}

std::optional<std::string> ReadText(HKEY key, const char* name) {
  DWORD type = 0;
  const auto bytes = QueryValue(key, name, type);
  if (!bytes) return std::nullopt;
  return TextFromRegValue(type, *bytes);
}

bool WriteBytes(HKEY key, const char* name, DWORD type, const std::uint8_t* bytes,
                std::size_t size) {
  return RegSetValueExA(key, name, 0, type, bytes, static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool WriteText(HKEY key, const char* name, const std::optional<std::string>& text) {
  if (!text) return true;
  const std::vector<std::uint8_t> bytes = RegSzBytes(*text);
  return WriteBytes(key, name, REG_SZ, bytes.data(), bytes.size());
}

}  // namespace

std::optional<StoredSettings> RegistrySettingsStore::Load() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ | KEY_WOW64_32KEY, &raw) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const OpenKey key(raw);
  StoredSettings values;
  values.isp_setting = ReadDword(key.get(), kIspSettingName);
  values.isp_file_name = ReadText(key.get(), kIspFileNameName);
  values.usb_vid = ReadText(key.get(), kUsbVidName);
  values.usb_pid = ReadText(key.get(), kUsbPidName);
  return values;
}

bool RegistrySettingsStore::Save(const StoredSettings& values) {
  HKEY raw = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const OpenKey key(raw);
  bool ok = true;
  if (values.isp_setting) {
    const auto bytes = RegDwordBytes(*values.isp_setting);
    ok = WriteBytes(key.get(), kIspSettingName, REG_DWORD, bytes.data(), bytes.size()) && ok;
  }
  ok = WriteText(key.get(), kIspFileNameName, values.isp_file_name) && ok;
  ok = WriteText(key.get(), kUsbVidName, values.usb_vid) && ok;
  ok = WriteText(key.get(), kUsbPidName, values.usb_pid) && ok;
  return RegFlushKey(key.get()) == ERROR_SUCCESS && ok;
}

}  // namespace velmora
