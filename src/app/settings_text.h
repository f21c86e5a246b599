// Setting texts between the window and the store: the store holds the platform's 8-bit
// encoding, and a text over 255 characters is cut to 255 when read and when written.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace velmora {

// The text of a stored value; empty when the value is absent.
QString SettingText(const std::optional<std::string>& stored);
// The value to store for a text.
std::string SettingBytes(const QString& text);

}  // namespace velmora
