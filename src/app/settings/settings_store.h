// The settings seam: the four values the tool keeps between runs (ISP step switches and range,
// the last program file, the ids to look for). Windows keeps them in the registry, elsewhere a
// per-user INI file holds the same names and encodings; tests use a store in a scratch folder.
// Plain C++, no Qt: the registry store is built with the device library on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// Value names and encodings are fixed: every copy of the tool reads what another one wrote.
inline constexpr const char* kIspSettingName = "ISPSetting";    // 32-bit value (isp_setting.h)
inline constexpr const char* kIspFileNameName = "ISPFileName";  // text
inline constexpr const char* kUsbVidName = "UsbVIDSet";         // text
inline constexpr const char* kUsbPidName = "UsbPIDSet";         // text

// Longer texts are cut to this many characters when read and when written.
inline constexpr std::size_t kMaxSettingTextChars = 255;

// The stored values. Texts are in the platform's 8-bit file-name encoding (the ANSI code page on
// Windows, UTF-8 elsewhere). A value the store does not hold, or holds in another shape than its
// own (ISPSetting not a 4-byte number, a text not a string), is nullopt.
struct StoredSettings {
  std::optional<std::uint32_t> isp_setting;
  std::optional<std::string> isp_file_name;
  std::optional<std::string> usb_vid;
  std::optional<std::string> usb_pid;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The stored values, or nullopt when there are no settings to read: none saved yet, no right
  // to read them, or a store too damaged to read. Never fails otherwise.
  virtual std::optional<StoredSettings> Load() = 0;

  // Creates the settings if need be and writes every value that is set; a value left nullopt
  // keeps what the store holds. False when the settings cannot be created (no right to the
  // place, a read-only folder: then nothing is saved) or a value could not be written.
  virtual bool Save(const StoredSettings& values) = 0;
};

}  // namespace velmora
