// One device operation at a time: every handler that uses the device, fired from every pump of
// every long operation, sends nothing and says that an operation is running, and the long
// operation sends exactly what it sends when nobody clicks. Another program's lock refuses the
// same way.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "device_list.h"
#include "device_lock.h"
#include "form_fixture.h"

namespace velmora::test {
namespace {

// A window over a fresh virtual chip in ISP mode, its part read and a program file of a few
// pages loaded, so every long operation pumps more than once.
struct Bench : FormRig {
  explicit Bench(const QString& first_click = "") {
    QFile file(dir.filePath("small.bin"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 700; ++i) file.putChar(static_cast<char>(i * 7));
    file.close();
    QObject::connect(&form, &TForm1::OperationRunningShown, [this] { ++shown; });
    form.Timer1->stop();
    form.show();
    EXPECT_TRUE(PlugAndFind());
    form.ProgramFileName = file.fileName();
    form.ReadProgramFile();
    form.ui->lbledtUSBWriteStatus->setText("00");
    for (const QString& name : QString("btnEnterISP btnUSBChipID " + first_click).split(' ')) {
      if (auto* button = form.findChild<QPushButton*>(name)) button->click();
    }
    transcript.Clear();
    pump.pumps = shown = 0;
  }
  bool SentAs(const Bench& other) const {
    const auto key = [](const sim::TranscriptEvent& e) {
      return std::tie(e.kind, e.handle, e.setup.request, e.setup.value, e.setup.index, e.ok, e.ms,
                      e.data);
    };
    return std::ranges::equal(transcript.Events(), other.transcript.Events(), {}, key, key);
  }
  QTemporaryDir dir;
  int shown = 0;  // times the user was told that the device is busy
};

TEST(ReentryMatrixTest, NestedDeviceHandlersSendNothingAndLeaveTheRunningOperationAlone) {
  std::map<QString, std::function<void(TForm1&)>> handlers;
  for (const QString& name :
       QString("btnUSBISPAuto btnEnterISP btnUSBChipID btnUSBWriteEnable btnUSBWriteDisable "
               "btnUSBReadStatus btnUSBErase btnUSBBlank btnUSBProgram btnUSBVerify btnReadBack "
               "btnReadAll btnReadMI2C btnSetPara btnReadPara btnUpdateStatus btnHID2 "
               "btnWriteSpecI2C btnReadSpecI2C chkBit3 chkMI2CBit3 lbledtUSBWriteStatus "
               "RegStringGrid1 StringGridMIIC lbledSysVID lbledSysStr1")
           .split(' ')) {
    handlers[name] = [name](TForm1& f) {  // a click, or Enter in an edit or grid
      if (auto* button = f.findChild<QAbstractButton*>(name)) return button->click();
      QTest::keyClick(f.findChild<QWidget*>(name), Qt::Key_Return);
    };
  }
  for (const QString name : {"RegStringGrid1", "StringGridMIIC"}) {
    handlers[name + " cell"] = [name](TForm1& f) {  // a new cell each time
      auto* grid = f.findChild<StringGrid*>(name);
      grid->setCurrentCell(grid->currentRow() == 2 ? 3 : 2, 2);
    };
  }
  handlers["I2C Access entered"] = [](TForm1& f) {  // by the tab once, then again directly
    if (f.ui->MainPageControl->currentWidget() == f.ui->PageMI2CCtrl) f.MainPageControlChange();
    f.ui->MainPageControl->setCurrentWidget(f.ui->PageMI2CCtrl);
  };
  handlers["window closed"] = [](TForm1& f) { f.close(); };

  // Long operations, after a button clicked before where one is needed (Verify: Program).
  for (const QString& operation : QString("btnUSBISPAuto btnUSBErase btnUSBBlank btnUSBProgram "
                                          "btnUSBProgram>btnUSBVerify btnReadBack btnReadAll "
                                          "btnReadMI2C")
                                      .split(' ')) {
    const QString first_click = operation.section('>', 0, -2), button = operation.section('>', -1);
    Bench alone(first_click), bench(first_click);
    alone.form.findChild<QPushButton*>(button)->click();
    ASSERT_GT(alone.pump.pumps, 1) << button.toStdString();
    std::map<QString, int> wrong;  // pumps at which a handler sent something or said nothing
    bench.pump.hook = [&](int) {
      for (const auto& [name, fire] : handlers) {
        if (name == button) continue;  // a second click on its own button stops it
        const std::size_t before = bench.transcript.Events().size();
        bench.shown = 0;
        fire(bench.form);
        wrong[name] += bench.transcript.Events().size() != before || bench.shown != 1;
      }
    };
    bench.form.findChild<QPushButton*>(button)->click();
    for (const auto& [name, pumps] : wrong)
      EXPECT_EQ(pumps, 0) << name.toStdString() << " during " << button.toStdString();
    EXPECT_TRUE(bench.form.isVisible()) << button.toStdString();
    EXPECT_EQ(QToolTip::text(), "An operation is running: wait until it ends");
    EXPECT_TRUE(bench.SentAs(alone)) << button.toStdString();
  }
}

// The window and another program (velmora-isp) never work on one device at once.
TEST(WindowDeviceLock, TheWindowAndAnotherProgramRefuseEachOther) {
  Bench bench;
  std::string error;
  const std::string port = PortPathOf(bench.usb.DevicePath());
  auto other = DeviceLock::Acquire(port, error);
  ASSERT_NE(other, nullptr) << error;
  bench.form.ui->btnUSBChipID->click();
  EXPECT_EQ(bench.shown, 1);
  EXPECT_TRUE(bench.transcript.Events().empty());
  EXPECT_TRUE(QToolTip::text().contains("in use by another program")) << QToolTip::text().data();
  other.reset();
  bool refused_meanwhile = false;
  bench.pump.hook = [&](int) { refused_meanwhile = DeviceLock::Acquire(port, error) == nullptr; };
  bench.form.ui->btnUSBISPAuto->click();
  EXPECT_TRUE(refused_meanwhile);
  EXPECT_EQ(bench.shown, 1);
  EXPECT_NE(DeviceLock::Acquire(port, error), nullptr) << "released when the run ends";
}

}  // namespace
}  // namespace velmora::test
