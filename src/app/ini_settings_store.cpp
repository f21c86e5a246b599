#include "ini_settings_store.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace velmora {

namespace {

std::optional<std::string> ReadText(const QSettings& settings, const char* name) {
  const QVariant value = settings.value(name);
  if (!value.isValid()) return std::nullopt;
  // An unquoted comma makes Qt read a list: the text is what was written.
  const QString text =
      value.typeId() == QMetaType::QStringList ? value.toStringList().join(',') : value.toString();
  return text.toLocal8Bit().toStdString();
}

std::optional<std::uint32_t> ReadNumber(const QSettings& settings, const char* name) {
  const QVariant value = settings.value(name);
  if (!value.isValid()) return std::nullopt;
  bool ok = false;
  const qulonglong number = value.toString().trimmed().toULongLong(&ok, 10);
  if (!ok || number > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

void WriteText(QSettings& settings, const char* name, const std::optional<std::string>& text) {
  if (text) settings.setValue(name, QString::fromLocal8Bit(text->data(), qsizetype(text->size())));
}

}  // namespace

QString IniSettingsStore::UserFilePath(const QString& organisation, const QString& application) {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, organisation, application)
      .fileName();
}

std::optional<StoredSettings> IniSettingsStore::Load() {
  if (!QFileInfo(path_).isFile()) return std::nullopt;
  const QSettings settings(path_, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return std::nullopt;
  StoredSettings values;
  values.isp_setting = ReadNumber(settings, kIspSettingName);
  values.isp_file_name = ReadText(settings, kIspFileNameName);
  values.usb_vid = ReadText(settings, kUsbVidName);
  values.usb_pid = ReadText(settings, kUsbPidName);
  return values;
}

bool IniSettingsStore::Save(const StoredSettings& values) {
  QSettings settings(path_, QSettings::IniFormat);
  if (values.isp_setting) settings.setValue(kIspSettingName, QString::number(*values.isp_setting));
  WriteText(settings, kIspFileNameName, values.isp_file_name);
  WriteText(settings, kUsbVidName, values.usb_vid);
  WriteText(settings, kUsbPidName, values.usb_pid);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace velmora
