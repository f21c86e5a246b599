// The single flash operations of the ISP page's "Function Test" group, driven through the window.
#include <QLabel>
#include <optional>

#include "isp_page_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

TEST_F(IspPageTest, EnterIspTogglesModeAndCaptionOnlyOnceADeviceWasFound) {
  Click(ui.btnEnterISP);
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(ui.btnEnterISP->text(), "Enter ISP");
  EXPECT_FALSE(form.InIspMode);

  sim::VirtualChip& chip = Attach();
  Click(ui.btnEnterISP);
  const auto sent = transcript.Transfers();
  ASSERT_GE(sent.size(), 3u);
  const struct {
    std::uint8_t request;
    std::uint16_t index;
    std::vector<std::uint8_t> data;
  } first_three[] = {{0x90, 0x00, {0x0D}}, {0x90, 0x01, {0x03}}, {0x84, 0x9E04, {}}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sent[i].setup.request, first_three[i].request) << i;
    EXPECT_EQ(sent[i].setup.index, first_three[i].index) << i;
    EXPECT_EQ(sent[i].data, first_three[i].data) << i;
  }
  EXPECT_TRUE(chip.InIspMode());
  EXPECT_TRUE(form.InIspMode);
  EXPECT_EQ(ui.btnEnterISP->text(), "Exit ISP");

  Click(ui.btnEnterISP);
  EXPECT_EQ(Requests(0x85).size(), 1u);
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_FALSE(form.InIspMode);
  EXPECT_EQ(ui.btnEnterISP->text(), "Enter ISP");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(IspPageTest, ChipIdShowsTheThreeBytesAndAFailedReadKeepsThem) {
  sim::VirtualChip& chip = Attach(TestFlash({0xC2, 0x20, 0x13}));
  Click(ui.btnEnterISP);
  Click(ui.btnUSBChipID);
  EXPECT_EQ(ui.lblUSBChipID->text(), "0xC2,  0x20,  0x13,  ");
  chip.FailRequest(0x81);
  Click(ui.btnUSBChipID);
  EXPECT_EQ(ui.lblUSBChipID->text(), "0xC2,  0x20,  0x13,  ");
  EXPECT_EQ(form.ChipId, (ChipIdBytes{0xC2, 0x20, 0x13}));
}

TEST_F(IspPageTest, StatusButtonsSetClearAndShowTheWriteEnableLatch) {
  sim::VirtualChip& chip = Attach();
  Click(ui.btnEnterISP);
  const struct {
    QPushButton* button;
    const char* status;
  } steps[] = {{ui.btnUSBWriteEnable, "0x02"}, {ui.btnUSBWriteDisable, "0x00"}};
  for (const auto& step : steps) {
    Click(step.button);
    Click(ui.btnUSBReadStatus);
    EXPECT_EQ(ui.lblUSBStatus->text(), step.status);
  }
  chip.Unplug();
  Click(ui.btnUSBReadStatus);
  EXPECT_EQ(ui.lblUSBStatus->text(), "0xFF");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(IspPageTest, WriteStatusTakesHexOnEnterOnlyAndKeepsTheLowByte) {
  Attach();
  const struct {
    const char* text;
    Qt::Key key;
    std::optional<std::uint8_t> written;
    const char* error;
  } cases[] = {
      {"8C", Qt::Key_Return, 0x8C, nullptr},
      {"1FF", Qt::Key_Return, 0xFF, nullptr},
      {"", Qt::Key_Return, std::nullopt, "'0x' is not a valid integer value"},
      {"8C", Qt::Key_Escape, std::nullopt, nullptr},
  };
  for (const auto& c : cases) {
    transcript.Clear();
    dialogs.errors.clear();
    ui.lbledtUSBWriteStatus->setText(c.text);
    QTest::keyClick(ui.lbledtUSBWriteStatus, c.key);
    EXPECT_EQ(dialogs.errors, c.error ? QStringList{c.error} : QStringList{}) << c.text;
    if (!c.written) {
      EXPECT_TRUE(NothingSent()) << c.text;
      continue;
    }
    const auto writes = Requests(0x80);
    ASSERT_EQ(writes.size(), 1u) << c.text;  // no write enable goes with it
    EXPECT_EQ(writes[0].data, (std::vector<std::uint8_t>{0x01, *c.written})) << c.text;
  }
}

TEST_F(IspPageTest, SingleButtonsEraseCheckProgramAndVerifyWithThePageSizeOfTheIdRead) {
  // A 32-byte-page part: 256-byte pages would wrap inside each page and fail the verify.
  sim::VirtualChip& chip = Attach(TestFlash({0xC2, 0x22, 0x11}));
  LoadThroughFileButton(Demo("hex"));
  Click(ui.btnEnterISP);
  Click(ui.btnUSBChipID);
  const struct {
    QPushButton* button;
    const char* label;
  } steps[] = {{ui.btnUSBErase, "Flash Erase All "},
               {ui.btnUSBBlank, "Blanking Success"},
               {ui.btnUSBProgram, "Programming Success"},
               {ui.btnUSBVerify, "Verifying Success"}};
  for (const auto& step : steps) {
    Click(step.button);
    EXPECT_TRUE(ui.lblUSBProcessInfo->text().startsWith(step.label))
        << ui.lblUSBProcessInfo->text().toStdString();
  }
  EXPECT_EQ(chip.Flash().ReadRange(0, 4608), DemoImage());
  EXPECT_EQ(chip.Flash().PagePrograms(), 4608u / 32);
  EXPECT_FALSE(form.StepFailed);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);

  // Blank check over the programmed flash reports the first byte that is not 0xFF.
  Click(ui.btnUSBBlank);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Blanking Fail at 0x000000");
}

TEST_F(IspPageTest, EraseThatNeverFinishesSaysSoAndMarksTheStepFailed) {
  sim::VirtualChip& chip = Attach();
  Click(ui.btnEnterISP);
  chip.SetFlashStuckBusy(true);
  Click(ui.btnUSBErase);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Erase Flash Fail");
  EXPECT_EQ(ui.lblUSBISPStatusReg->text(), "Status Register: 0x01");
  EXPECT_TRUE(form.StepFailed);
}

// The two "(enter)" hints are drawn in the palette's frame colour (the window text of Qt's
// palette, in which plain frames are drawn), so they follow a light or dark theme rather than
// staying black.
TEST_F(IspPageTest, EnterHintsTakeTheirColourFromThePalette) {
  QPalette palette = form.palette();
  palette.setColor(QPalette::WindowText, QColor(0xE0, 0x10, 0x20));
  form.setPalette(palette);
  for (QLabel* hint : {ui.Label15, ui.Label17}) {
    const QImage image = hint->grab().toImage();
    int red = 0, black = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, y);
        red += pixel.red() > 0xA0 && pixel.green() < 0x60 && pixel.blue() < 0x60;
        black += pixel.red() < 0x40 && pixel.green() < 0x40 && pixel.blue() < 0x40;
      }
    }
    EXPECT_GT(red, 10) << hint->objectName().toStdString();
    EXPECT_EQ(black, 0) << hint->objectName().toStdString();
  }
}

}  // namespace
}  // namespace velmora::test
