// The window's shared mechanics: look-up by name, the page control, the string grids, the guard,
// key-down wiring, the event pump and the file dialogs.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "convert_error.h"
#include "form_fixture.h"
#include "key_codes.h"
#include "string_grid.h"

namespace velmora::test {
namespace {

TEST_F(FormTest, ControlsAreFoundByNameAndDigitAndTheSixSheetsKeepTheirOrder) {
  EXPECT_EQ(form.objectName(), "Form1");
  EXPECT_EQ(form.FindComponent("Timer1"), form.Timer1);
  EXPECT_EQ(form.FindComponent(""), nullptr);
  for (const auto& [prefix, count] : {std::pair{"chkBit", 8},
                                      {"chkMI2CBit", 8},
                                      {"rbnMCLKOutFreq", 4},
                                      {"btnHID", 5},
                                      {"edtNewStr", 5},
                                      {"edtI2Ccmd", 5},
                                      {"edtI2Cdat", 5}}) {
    for (int digit = 0; digit < count; ++digit)
      EXPECT_NE(form.FindFamilyMember<QWidget>(prefix, digit), nullptr) << prefix << digit;
    EXPECT_EQ(form.FindFamilyMember<QWidget>(prefix, count), nullptr) << prefix;
  }
  const QStringList sheets{"TabSheet1 Register",      "PageMI2CCtrl I2C Access",
                           "PageISPCtrl ISP",         "Parameter Parameter",
                           "Information Information", "BinFile Gen. Bin File"};
  ASSERT_EQ(ui.MainPageControl->count(), sheets.size());
  for (int i = 0; i < sheets.size(); ++i) {
    EXPECT_EQ(ui.MainPageControl->widget(i)->objectName() + " " + ui.MainPageControl->tabText(i),
              sheets[i]);
  }
  EXPECT_EQ(ui.MainPageControl->currentWidget(), ui.TabSheet1);  // with every page shown
}

TEST_F(FormTest, GridCellsGoByColumnThenRowAndOnlyBodyCellsAreEdited) {
  form.show();
  for (const char* name : {"RegStringGrid1", "StringGridMIIC"}) {
    auto* grid = qobject_cast<StringGrid*>(form.FindComponent(name));
    ASSERT_NE(grid, nullptr) << name;
    EXPECT_EQ(grid->columnCount() * 100 + grid->rowCount(), 1717);
    grid->SetCell(3, 1, "AB");
    grid->SetCell(17, 1, "out");  // outside the grid: ignored
    EXPECT_EQ(grid->item(1, 3)->text() + grid->Cell(1, 3) + grid->Cell(17, 1), "AB");
    for (const auto& [col, row, editable] :
         {std::tuple{0, 5, false}, {5, 0, false}, {5, 5, true}}) {
      grid->edit(grid->model()->index(row, col));
      int editors = 0;
      for (const QLineEdit* editor : grid->viewport()->findChildren<QLineEdit*>())
        editors += editor->isHidden() ? 0 : 1;
      EXPECT_EQ(editors, editable ? 1 : 0) << name << " " << col << "," << row;
      grid->reset();
    }
  }
}

TEST_F(FormTest, HandlersRunGuardedGetKeysAsVirtualCodesAndRunClicksNestedInThePump) {
  auto* edit = new QLineEdit(&form);
  std::vector<int> keys;
  form.WireKeyDown(edit, [&](QWidget* sender, int key, Qt::KeyboardModifiers) {
    EXPECT_EQ(sender, edit);
    keys.push_back(key);
    if (key == kVkReturn) StrToIntOrRaise("0x" + edit->text());
  });
  QTest::keyClicks(edit, "a0");
  QTest::keyClick(edit, Qt::Key_Enter);  // the keypad's Enter is Enter too
  EXPECT_EQ(edit->text(), "a0");         // the keys still reach the edit
  EXPECT_EQ(keys, (std::vector<int>{'A', '0', kVkReturn}));
  QTest::keyClick(edit, Qt::Key_Z);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(dialogs.errors, QStringList{"'0xa0z' is not a valid integer value"});

  QtEventPump real_pump;
  QStringList order;
  auto* program = new QPushButton(&form);
  auto* verify = new QPushButton(&form);
  form.Wire(program, &QPushButton::clicked, [&] {
    QMetaObject::invokeMethod(verify, "click", Qt::QueuedConnection);
    real_pump.Pump();
    order << "program ends";
    throw std::runtime_error("gone");  // shown like a conversion error; the window goes on
  });
  form.Wire(verify, &QPushButton::clicked, [&] { order << "verify"; });
  program->click();
  EXPECT_EQ(order, (QStringList{"verify", "program ends"}));
  EXPECT_EQ(dialogs.errors.last(), "gone");
}

TEST_F(FormTest, FileDialogsRunThroughTheSeamWithTheirDesign) {
  dialogs.ScriptFile(QString("firmware/fw.hex"));
  EXPECT_EQ(form.Execute(form.OpenBinFileDialog), QString("firmware/fw.hex"));
  EXPECT_EQ(form.Execute(form.SaveBinFIleDialog), std::nullopt);  // cancelled
  ASSERT_EQ(dialogs.file_dialogs.size(), 2u);
  EXPECT_EQ(dialogs.file_dialogs[1].kind, FileDialogDesign::Kind::Save);
  EXPECT_FALSE(dialogs.file_dialogs[1].overwrite_prompt);
  EXPECT_EQ(QtNameFilter(form.OpenBinFileDialog.filter),
            "Hex File (*.hex *.h00);;Binary File (*.bin)");
  EXPECT_EQ(QtNameFilter(form.SaveBinFIleDialog.filter), "Binary File (*.bin)");
  EXPECT_EQ(QtDefaultSuffix(form.OpenBinFileDialog.default_ext), "hex");
  EXPECT_EQ(QtDefaultSuffix(".bin") + QtDefaultSuffix(""), "bin");
}

}  // namespace
}  // namespace velmora::test
