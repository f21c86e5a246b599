#include "settings_text.h"

#include "settings_store.h"

namespace velmora {

namespace {
constexpr auto kLimit = static_cast<qsizetype>(kMaxSettingTextChars);
}  // namespace

QString SettingText(const std::optional<std::string>& stored) {
  if (!stored) return {};
  return QString::fromLocal8Bit(stored->data(), static_cast<qsizetype>(stored->size()))
      .left(kLimit);
}

std::string SettingBytes(const QString& text) {
  return text.left(kLimit).toLocal8Bit().toStdString();
}

}  // namespace velmora
