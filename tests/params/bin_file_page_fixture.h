// The window for tests of the "Gen. Bin File" tab: scripted dialogs, a scratch folder for the
// image files, and builders of firmware images with a user table. The tab never talks to the
// device, so the chip stays unplugged.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <string_view>
#include <vector>

#include "form_fixture.h"

namespace velmora::test {

using Bytes = std::vector<std::uint8_t>;

class BinFilePageTest : public PageTest {
 protected:
  BinFilePageTest() { ShowPage(ui.BinFile); }

  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  // "Current File" answered with `path`.
  void LoadCurrentFile(const QString& path) {
    dialogs.ScriptFile(path);
    Click(ui.CurrentFileBitBtn);
  }
  // "New File" answered with `path`.
  void ChooseNewFile(const QString& path) {
    dialogs.ScriptFile(path);
    Click(ui.btnSaveBitBin);
  }

  // `size` bytes that are neither blank nor spaces nor 'V', with the marker text at `offset`.
  static Bytes ImageWithMarker(std::size_t size, std::size_t offset,
                               std::string_view marker = "VLUSB_Table01") {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x80 + i % 61);
    std::copy(marker.begin(), marker.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    return image;
  }

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
    return path;
  }
  QString WriteFile(const QString& name, const Bytes& bytes) {
    return WriteFile(name, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<qsizetype>(bytes.size())));
  }
  static Bytes ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
  }

  QTemporaryDir dir;
};

}  // namespace velmora::test
