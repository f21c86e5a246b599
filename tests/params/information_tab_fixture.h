// The window over the virtual chip for tests of the Information tab (status read-out, HID keys,
// length bars, special I2C group). The form is built here only; the tab is selected at the start.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>

#include "form_fixture.h"
#include "i2c_slave.h"

namespace velmora::test {

class InformationTabTest : public PageTest {
 protected:
  InformationTabTest() { ShowPage(ui.Information); }

  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  QLineEdit* Field(const char* row, int i) const {
    return form.FindFamilyMember<QLineEdit>(row, i);
  }
  // Sets the first fields of a row ("edtI2Ccmd" or "edtI2Cdat") and reads back all five.
  void SetFields(const char* row, const QStringList& texts) {
    for (int i = 0; i < texts.size(); ++i) Field(row, i)->setText(texts[i]);
  }
  QStringList FieldTexts(const char* row) const {
    QStringList texts;
    for (int i = 0; i < 5; ++i) texts << Field(row, i)->text();
    return texts;
  }
};

}  // namespace velmora::test
