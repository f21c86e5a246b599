// The window's shared mechanics: look-up by name, the page control, labelled edits, string
// grids, radio groups, the guard, key-down wiring, the event pump and the file dialogs.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "convert_error.h"
#include "form_fixture.h"
#include "key_codes.h"
#include "labeled_edit.h"
#include "string_grid.h"

namespace velmora::test {
namespace {

TEST_F(FormTest, WindowIsForm1WithTheStartUpCaptionAndSize) {
  EXPECT_EQ(form.objectName(), "Form1");
  EXPECT_EQ(form.windowTitle(), "KDN USB ISP ToolV1.0");  // start-up replaces the design's
  EXPECT_EQ(form.size(), QSize(606, 618));                // every page, at 96 dpi
  // The offscreen screen is 800 x 600: the designed place 664, 133 would put most of it off.
  EXPECT_TRUE(form.screen()->availableGeometry().contains(form.geometry())) << form.pos().x();
  EXPECT_EQ(form.FindComponent("Timer1"), form.Timer1);
  EXPECT_EQ(form.FindComponent(""), nullptr);
  EXPECT_EQ(form.FindComponent("NoSuchControl"), nullptr);
}

TEST_F(FormTest, EveryPrefixAndDigitFamilyIsFoundWholeAndNothingPastItsEnd) {
  const struct {
    const char* prefix;
    int count;
    const char* class_name;
    const char* parent;  // the family shares one container
  } families[] = {
      {"chkBit", 8, "QCheckBox", "Panel2"},
      {"chkMI2CBit", 8, "QCheckBox", "Panel3"},
      {"rbnMCLKOutFreq", 4, "QRadioButton", "GroupBox5"},
      {"btnHID", 5, "QPushButton", "Information"},
      {"edtNewStr", 5, "QLineEdit", "GroupBox9"},
      {"edtI2Ccmd", 5, "QLineEdit", "GroupBox7"},
      {"edtI2Cdat", 5, "QLineEdit", "GroupBox7"},
  };
  for (const auto& family : families) {
    QSet<QObject*> seen;
    for (int digit = 0; digit < family.count; ++digit) {
      QWidget* member = form.FindFamilyMember<QWidget>(family.prefix, digit);
      ASSERT_NE(member, nullptr) << family.prefix << digit;
      EXPECT_STREQ(member->metaObject()->className(), family.class_name) << family.prefix << digit;
      EXPECT_EQ(member->parentWidget()->objectName(), family.parent) << family.prefix << digit;
      seen.insert(member);
    }
    EXPECT_EQ(seen.size(), family.count) << family.prefix;
    EXPECT_EQ(form.FindFamilyMember<QWidget>(family.prefix, family.count), nullptr)
        << family.prefix;
  }
}

TEST_F(FormTest, EveryButtonCaptionKeepsClearOfItsBorder) {
  // Six pixels a side: the frame and its shading take three.
  for (const QPushButton* button : form.findChildren<QPushButton*>()) {
    const int text = button->fontMetrics().horizontalAdvance(button->text());
    const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    EXPECT_LE(text + icon + 12, button->width()) << button->objectName().toStdString();
  }
}

TEST_F(FormTest, BitBoxesRunFromBit7OnTheLeftToBit0OnTheRight) {
  for (const char* prefix : {"chkBit", "chkMI2CBit"}) {
    for (int bit = 0; bit < 7; ++bit) {
      const QWidget* lower = form.FindFamilyMember<QCheckBox>(prefix, bit);
      const QWidget* higher = form.FindFamilyMember<QCheckBox>(prefix, bit + 1);
      EXPECT_GT(lower->x(), higher->x()) << prefix << bit;
      EXPECT_EQ(lower->y(), higher->y()) << prefix << bit;
    }
  }
}

TEST_F(FormTest, SpecialI2cRowsStartAtOneTopFromCaptionToButton) {
  const struct {
    const char* caption;
    const char* edits;
    const char* button;
  } rows[] = {{"Add", "edtI2Ccmd", "btnWriteSpecI2C"}, {"Label22", "edtI2Cdat", "btnReadSpecI2C"}};
  for (const auto& row : rows) {
    const int top = qobject_cast<QWidget*>(form.FindComponent(row.caption))->y();
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(form.FindFamilyMember<QWidget>(row.edits, i)->y(), top) << row.edits << i;
    }
    EXPECT_EQ(qobject_cast<QWidget*>(form.FindComponent(row.button))->y(), top) << row.button;
  }
}

int VisibleEditors(const QTableWidget* grid) {
  int count = 0;
  for (const QLineEdit* editor : grid->viewport()->findChildren<QLineEdit*>()) {
    count += editor->isHidden() ? 0 : 1;
  }
  return count;
}

TEST_F(FormTest, BothGridsAreFoundByNameWithFixedHeaderRowAndColumn) {
  form.show();
  for (const char* name : {"RegStringGrid1", "StringGridMIIC"}) {
    auto* grid = qobject_cast<StringGrid*>(form.FindComponent(name));
    ASSERT_NE(grid, nullptr) << name;
    EXPECT_EQ(grid->columnCount(), 17);
    EXPECT_EQ(grid->rowCount(), 17);
    EXPECT_FALSE(grid->horizontalHeader()->isVisible());
    EXPECT_FALSE(grid->verticalHeader()->isVisible());

    // Cells are addressed (column, row) as in the design.
    grid->SetCell(3, 1, "AB");
    ASSERT_NE(grid->item(1, 3), nullptr);
    EXPECT_EQ(grid->item(1, 3)->text(), "AB");
    EXPECT_EQ(grid->Cell(3, 1), "AB");
    EXPECT_EQ(grid->Cell(1, 3), "");
    grid->SetCell(17, 1, "out");  // outside the grid: ignored
    EXPECT_EQ(grid->Cell(17, 1), "");

    // Header cells are never edited; body cells are, written or not.
    grid->SetCell(0, 5, "40");
    for (const auto& [col, row, editable] :
         {std::tuple{0, 5, false}, std::tuple{5, 0, false}, std::tuple{0, 0, false},
          std::tuple{5, 5, true}, std::tuple{3, 1, true}}) {
      grid->edit(grid->model()->index(row, col));
      EXPECT_EQ(VisibleEditors(grid), editable ? 1 : 0) << name << " cell " << col << "," << row;
      grid->reset();
    }
    EXPECT_EQ(grid->Col(), 1);  // no current cell: the first body cell
    EXPECT_EQ(grid->Row(), 1);
  }
}

TEST_F(FormTest, PageControlHoldsTheSixSheetsInOrder) {
  const QTabWidget* pages = ui.MainPageControl;
  const QStringList sheets{"TabSheet1", "PageMI2CCtrl", "PageISPCtrl",
                           "Parameter", "Information",  "BinFile"};
  const QStringList captions{"Register",  "I2C Access",  "ISP",
                             "Parameter", "Information", "Gen. Bin File"};
  ASSERT_EQ(pages->count(), sheets.size());
  for (int i = 0; i < pages->count(); ++i) {
    EXPECT_EQ(pages->widget(i)->objectName(), sheets[i]);
    EXPECT_EQ(pages->tabText(i), captions[i]);
    EXPECT_EQ(form.FindComponent(sheets[i]), pages->widget(i));
  }
  // Start-up makes "Register" the active page (the design's is "Information").
  EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet1");
}

TEST_F(FormTest, EveryLabelledEditKeepsItsLabel3PixelsToItsLeft) {
  form.show();
  const QList<LabeledEdit*> edits = form.findChildren<LabeledEdit*>();
  ASSERT_GE(edits.size(), 20);
  const auto expect_label_beside = [](const LabeledEdit* edit) {
    const QLabel* label = edit->label();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), edit->parentWidget()) << edit->objectName().toStdString();
    EXPECT_FALSE(label->text().isEmpty()) << edit->objectName().toStdString();
    EXPECT_EQ(label->geometry().right() + 1 + LabeledEdit::kLabelSpacing, edit->x())
        << edit->objectName().toStdString();
    EXPECT_NEAR(label->geometry().center().y(), edit->geometry().center().y(), 1)
        << edit->objectName().toStdString();
  };
  for (const LabeledEdit* edit : edits) expect_label_beside(edit);

  LabeledEdit* vid = ui.lbledtVID;
  vid->move(vid->x() + 30, vid->y() + 5);
  expect_label_beside(vid);
  vid->setLabelText("Vendor id:");
  expect_label_beside(vid);
  vid->setEnabled(false);
  EXPECT_FALSE(vid->label()->isEnabled());
  vid->setEnabled(true);
  EXPECT_TRUE(vid->label()->isEnabled());
  vid->hide();
  EXPECT_TRUE(vid->label()->isHidden());
  vid->show();
  EXPECT_FALSE(vid->label()->isHidden());
}

TEST_F(FormTest, RadioButtonsAreExclusiveWithinTheirGroupOnly) {
  const struct {
    const char* first;
    const char* second;
  } groups[] = {{"rbnRange0", "rbnRange1"},         {"rbnDSDOut0", "rbnDSDOut1"},
                {"rbnI2Slen0", "rbnI2Slen1"},       {"rbnSPDIFlen1", "rbnSPDIFlen0"},
                {"rbnI2SFormat0", "rbnI2SFormat1"}, {"rbnMCLKOutFreq2", "rbnMCLKOutFreq3"}};
  for (const auto& group : groups) {
    auto* first = qobject_cast<QRadioButton*>(form.FindComponent(group.first));
    auto* second = qobject_cast<QRadioButton*>(form.FindComponent(group.second));
    ASSERT_TRUE(first && second) << group.first;
    ASSERT_TRUE(first->isChecked()) << group.first;
    second->click();
    EXPECT_TRUE(second->isChecked()) << group.second;
    EXPECT_FALSE(first->isChecked()) << group.first;
    // The other groups keep their choice.
    for (const auto& other : groups) {
      if (&other <= &group) continue;
      EXPECT_TRUE(qobject_cast<QRadioButton*>(form.FindComponent(other.first))->isChecked())
          << other.first << " after " << group.second;
    }
  }
}

TEST_F(FormTest, GuardShowsTheConversionErrorAndEndsTheHandlerWhereItWas) {
  auto* button = new QPushButton(&form);  // a control of its own: page handlers stay out
  int reached = 0;
  form.Wire(button, &QPushButton::clicked, [&] {
    reached = 1;
    StrToIntOrRaise("0x" + QString("G7"));
    reached = 2;
  });
  button->click();
  EXPECT_EQ(reached, 1);
  EXPECT_EQ(dialogs.errors, QStringList{"'0xG7' is not a valid integer value"});
  EXPECT_TRUE(dialogs.messages.isEmpty());

  // Any other error that escapes a handler is shown the same way; the window goes on.
  auto* other = new QPushButton(&form);
  form.Wire(other, &QPushButton::clicked, [] { throw std::runtime_error("gone"); });
  other->click();
  EXPECT_EQ(dialogs.errors.size(), 2);
  EXPECT_EQ(dialogs.errors.last(), "gone");
}

TEST_F(FormTest, WiredHandlersReceiveTheSignalArgumentsTheyAskFor) {
  auto* bar = new QScrollBar(Qt::Horizontal, &form);
  bar->setRange(1, 5);
  int value = 0;
  int calls = 0;
  form.Wire(bar, &QScrollBar::valueChanged, [&](int v) { value = v; });
  form.Wire(bar, &QScrollBar::valueChanged, [&] { ++calls; });
  bar->setValue(4);
  EXPECT_EQ(value, 4);
  EXPECT_EQ(calls, 1);
  bar->setValue(9);  // beyond the range 1..5
  EXPECT_EQ(value, 5);
}

TEST_F(FormTest, KeyDownHandlersGetTheSenderAndVirtualKeyAndTheKeyStillReachesTheEdit) {
  auto* edit = new QLineEdit(&form);
  std::vector<std::pair<QWidget*, int>> keys;
  form.WireKeyDown(edit, [&](QWidget* sender, int key, Qt::KeyboardModifiers) {
    keys.emplace_back(sender, key);
    if (key == kVkReturn) StrToIntOrRaise("0x" + edit->text());
  });
  edit->clear();
  QTest::keyClicks(edit, "a0");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(edit->text(), "a0");  // typed keys were not swallowed
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], std::make_pair(static_cast<QWidget*>(edit), int{'A'}));
  EXPECT_EQ(keys[2].second, kVkReturn);
  EXPECT_TRUE(dialogs.errors.isEmpty());

  QTest::keyClicks(edit, "z");
  QTest::keyClick(edit, Qt::Key_Enter);  // the keypad's Enter is Enter too
  EXPECT_EQ(dialogs.errors, QStringList{"'0xa0z' is not a valid integer value"});
}

TEST(VirtualKeyOf, MapsQtKeysToWindowsCodes) {
  const struct {
    int qt_key;
    int vk;
  } keys[] = {{Qt::Key_Return, 13}, {Qt::Key_Enter, 13},  {Qt::Key_Insert, 45},
              {Qt::Key_Delete, 46}, {Qt::Key_A, 'A'},     {Qt::Key_Z, 'Z'},
              {Qt::Key_0, '0'},     {Qt::Key_9, '9'},     {Qt::Key_F1, 0x70},
              {Qt::Key_Up, 38},     {Qt::Key_Escape, 27}, {Qt::Key_Backspace, 8},
              {Qt::Key_Tab, 9},     {Qt::Key_unknown, 0}, {Qt::Key_Exclam, 0}};
  for (const auto& k : keys) EXPECT_EQ(VirtualKeyOf(k.qt_key), k.vk) << std::hex << k.qt_key;
}

TEST_F(FormTest, PumpRunsAClickMadeDuringALongOperationNested) {
  QtEventPump real_pump;
  QStringList order;
  auto* program = new QPushButton(&form);
  auto* verify = new QPushButton(&form);
  form.Wire(program, &QPushButton::clicked, [&] {
    order << "program starts";
    QMetaObject::invokeMethod(verify, "click", Qt::QueuedConnection);
    real_pump.Pump();
    order << "program ends";
  });
  form.Wire(verify, &QPushButton::clicked, [&] { order << "verify"; });
  program->click();
  EXPECT_EQ(order, (QStringList{"program starts", "verify", "program ends"}));
}

TEST_F(FormTest, FileDialogsRunThroughTheSeamWithTheirDesign) {
  dialogs.ScriptFile(QString("firmware/fw.hex"));
  EXPECT_EQ(form.Execute(form.OpenBinFileDialog), QString("firmware/fw.hex"));
  EXPECT_EQ(form.Execute(form.SaveBinFIleDialog), std::nullopt);  // cancelled
  ASSERT_EQ(dialogs.file_dialogs.size(), 2u);
  EXPECT_EQ(dialogs.file_dialogs[0].kind, FileDialogDesign::Kind::Open);
  EXPECT_EQ(dialogs.file_dialogs[1].kind, FileDialogDesign::Kind::Save);
  EXPECT_FALSE(dialogs.file_dialogs[1].overwrite_prompt);

  EXPECT_EQ(QtNameFilter(form.OpenBinFileDialog.filter),
            "Hex File (*.hex *.h00);;Binary File (*.bin)");
  EXPECT_EQ(QtNameFilter(form.SaveBinFIleDialog.filter), "Binary File (*.bin)");
  EXPECT_EQ(QtDefaultSuffix(form.OpenBinFileDialog.default_ext), "hex");
  EXPECT_EQ(QtDefaultSuffix(form.SaveBinFIleDialog.default_ext), "bin");
  EXPECT_EQ(QtDefaultSuffix(".bin"), "bin");
  EXPECT_EQ(QtDefaultSuffix(""), "");
}

}  // namespace
}  // namespace velmora::test
