// The tool's one window. Its controls come from the designed form (tform1.ui, held as `ui`), the
// event handlers of every page are members, and the services below the window come in through
// the constructor so that tests and the demo can wire fakes. The constructor ends with
// FormCreate, so the window is ready as the user first sees it.
#pragma once

#include <QCheckBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "device_lock.h"
#include "device_status.h"
#include "dialogs.h"
#include "event_pump.h"
#include "flash_engine.h"
#include "form_flash_progress.h"
#include "form_startup.h"
#include "isp_setting.h"
#include "parameter_block.h"
#include "presence_monitor.h"
#include "program_image.h"
#include "register_grid_page.h"
#include "register_images.h"
#include "register_port.h"
#include "sleeper.h"
#include "velmora_usb.h"

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `startup` says where the settings live and which pages show; its store must outlive the
  // window.
  TForm1(velmora::VelmoraUsb& usb, velmora::Sleeper& sleeper, velmora::Dialogs& dialogs,
         velmora::EventPump& pump, const velmora::FormStartup& startup, QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Window mechanics shared by every page ------------------------------------------------

  // The control or component of that name (a control, Timer1), or nullptr.
  QObject* FindComponent(const QString& name) const;
  // A member of a prefix-and-digit family ("chkBit" and 3 give chkBit3), or nullptr.
  template <typename T>
  T* FindFamilyMember(const QString& prefix, int digit) const {
    return qobject_cast<T*>(FindComponent(prefix + QString::number(digit)));
  }

  // Runs a handler body: a conversion error (or any other escaping error) ends the handler where
  // it was raised, is shown by the application's error display, and the state it reached stays.
  void Guard(const std::function<void()>& body);

  // Connects `signal` of `sender` to `slot` through the guard. The slot takes the signal's
  // arguments, or fewer from the front, as Qt allows.
  template <typename Sender, typename Signal, typename Slot>
  QMetaObject::Connection Wire(Sender* sender, Signal signal, Slot slot) {
    return connect(
        sender, signal, this,
        [ this,
          slot ](auto&&... args) -> void requires std::invocable<const Slot&, decltype(args)...> {
          Guard([&] { slot(std::forward<decltype(args)>(args)...); });
        });
  }

  // ---- One device operation at a time ---------------------------------------------------------
  // Long operations hand control to the window while they run, so a click meanwhile runs its
  // handler nested, on the same device link. Every handler that would use the device claims it
  // first: while another holds the claim it gets an empty one, the user is told where he looks
  // that an operation is running, and the handler does nothing else. Stop buttons do not claim:
  // they stop the run that holds it.
  // A claim of a found device also holds the lock other programs take on it (velmora-isp), so
  // the window and a command-line run never interleave their requests; a device another
  // program holds is refused the same way, with its reason. Closing the window claims without
  // that lock: it only closes the window's own link.
  class DeviceClaim {
   public:
    explicit DeviceClaim(bool* held, std::unique_ptr<velmora::DeviceLock> lock = nullptr)
        : held_(held), lock_(std::move(lock)) {}
    DeviceClaim(const DeviceClaim&) = delete;
    DeviceClaim& operator=(const DeviceClaim&) = delete;
    ~DeviceClaim() {
      if (held_ != nullptr) *held_ = false;
    }
    explicit operator bool() const { return held_ != nullptr; }

   private:
    bool* held_;
    std::unique_ptr<velmora::DeviceLock> lock_;
  };
  [[nodiscard]] DeviceClaim ClaimDevice(bool with_lock = true);
  bool DeviceBusy() const { return device_claimed_; }

  // Key-down handlers: (sender, Windows virtual-key code, modifiers). The key is not consumed:
  // the control's own handling of it still takes place afterwards.
  using KeyDownHandler = std::function<void(QWidget* sender, int key, Qt::KeyboardModifiers)>;
  void WireKeyDown(QWidget* control, KeyDownHandler handler);

  // A "Dialog" message box with `text` as it stands.
  void ShowMessage(const QString& text) { dialogs_.ShowMessage(text); }
  // Runs one of the two file dialogs of the window; the chosen path or nothing.
  std::optional<QString> Execute(const velmora::FileDialogDesign& dialog);

  // ---- Components ---------------------------------------------------------------------------

  std::unique_ptr<Ui::TForm1> ui;
  QTimer* Timer1 = nullptr;
  const velmora::FileDialogDesign OpenBinFileDialog{velmora::FileDialogDesign::Kind::Open,
                                                    "Hex File|*.hex;*.h00|Binary File|*.bin",
                                                    "*.hex",
                                                    true,
                                                    {}};
  const velmora::FileDialogDesign SaveBinFIleDialog{
      velmora::FileDialogDesign::Kind::Save, "Binary File|*.bin", "*.bin", false, {}};

  // Set while the automatic ISP sequence runs; the presence monitor stands still meanwhile.
  bool AutoBusy = false;

  // ---- Start-up and settings ---------------------------------------------------------------
  void FormCreate();
  // Closing the window: closes a device handle still held, then saves the settings.
  void FormClose();
  // Restores the ISP step switches, the range, the last program file and the ids to look for;
  // without stored settings the ids are 6ccf / 6012 and the ISP controls keep their states.
  void LoadSettings();
  // Stores them back; a store that cannot be written saves nothing, silently.
  void SaveSettings();

  // ---- Device detection (panel above the pages) ---------------------------------------------
  void chkDetectUSBClick();
  void lbledtVIDPIDKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void Timer1Timer();
  velmora::PresenceMonitor& Presence() { return presence_; }

  // ---- ISP page: program file, flash operations, range and read-back, Auto ------------------
  velmora::ProgramImage ProgramImage;  // 256 KiB, 0xFF where the file supplied nothing
  bool FileReady = false;              // a program file is loaded
  QString ProgramFileName;
  std::uint32_t RangeStart = 0;  // flash address of image byte 0 (0 under "All")
  std::uint32_t RangeSize = 0;   // extent of the sector erase under "Assign Range"
  velmora::ChipIdBytes ChipId{};
  std::uint16_t PageSize = velmora::kLargePageSize;  // chosen by the last Auto run
  bool InIspMode = false;                            // toggled by "Enter ISP" / "Exit ISP"
  bool StepFailed = false;
  std::vector<std::uint8_t> ReadBackBuffer = std::vector<std::uint8_t>(velmora::kProgramImageSize);

  void USBLoadFileBitBtnClick();
  void ReadProgramFile();
  void AddToFileHistory();
  void btnEnterISPClick();
  void btnUSBChipIDClick();
  void btnUSBWriteEnableClick();
  void btnUSBWriteDisableClick();
  void btnUSBReadStatusClick();
  void lbledtUSBWriteStatusKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void btnUSBEraseClick();
  void btnUSBBlankClick();
  void btnUSBProgramClick();
  void btnUSBVerifyClick();
  void rbnRangeClick();
  void btnReadBackClick();
  void btnUSBISPAutoClick();

  // ---- Parameter page: the device's option bytes, identifiers and descriptor strings --------
  velmora::ParameterBlock ParameterBlock = velmora::kStartupParameterBlock;

  void rbnI2SlenClick();
  void rbnSPDIFlenClick();
  void chkI2SLRSwapClick();
  void chkDSDLRSwapClick();
  void rbnMCLKOutFreqClick(QObject* sender);
  void rbnI2SFormatClick();
  void rbnDSDOutClick();
  void chkMCLKOutOffClick();
  void chkI2SOutOffClick();
  void chkSPDIFOutOffClick();
  void ShowParameterBlock();
  void btnSetParaClick();
  void btnReadParaClick();
  void lbledSysVIDPIDKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void lbledSysStrKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);

  // ---- Gen. Bin File page: a firmware image's user table, changed and saved to a new file ----
  // The tab's own working copy of the image it loaded; the ISP page's ProgramImage is not touched.
  std::vector<std::uint8_t> ModifyImage = std::vector<std::uint8_t>(velmora::kProgramImageSize);
  std::uint32_t ModifyImageLength = 0;  // 0 after a load that failed
  QString ModifyFileName;               // chosen with "Current File"
  QString SaveFileName;                 // chosen with "New File"; empty until then
  // The marker's offset in ModifyImage; empty until a search finds a table that fits, and again
  // after a search that finds none, so " Save" cannot patch an image without a table.
  std::optional<std::uint32_t> UserTableOffset;

  void CurrentFileBitBtnClick();
  void ReadModifyFile();
  bool FindUserTable();
  void btnCheckClick();
  void btnSaveBitBinClick();
  void btnSaveBinClick();

  // ---- Register page: the chip's register bank as a 16 x 16 grid ----------------------------
  velmora::RegisterImageTables RegisterImage{};  // one table per bank number 0 to 9
  std::uint8_t CurrentBank = 0;                  // the table the page shows; nothing changes it

  void btnReadAllClick();
  void RegStringGridSelectCell(int column, int row);
  void RegStringGridKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void chkBit0MouseUp();

  // ---- I2C page: the registers of the slave behind the chip's I2C master ---------------------
  velmora::RegisterTable I2cImage{};
  // The slave's 8-bit bus address byte (write form; the read phase sets bit 0): 0x20 addresses
  // 7-bit slave 0x10. Shared with the special I2C group of the Information tab.
  std::uint8_t I2cSlaveAddress = 0x20;
  // Stores a new slave address and shows it in edtMI2CAddr as two hex digits ("A0").
  void SetI2cSlaveAddress(std::uint8_t address);

  void MainPageControlChange();
  void edtMI2CAddrKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void btnReadMI2CClick();
  void StringGridMIICSelectCell(int column, int row);
  void StringGridMIICKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void chkMI2CBitMouseUp();

  // ---- Information tab: status read-out, HID keys, special I2C and its length bars ----------
  velmora::DeviceStatus DeviceStatus{};  // the status registers as last read; 0 at start

  void btnUpdateStatusClick();
  // One handler for the five HID buttons: the key is the digit that ends the sender's name.
  void btnHIDClick(QObject* Sender);
  void srblen0Change();
  void srblen1Change();
  void edtMI2CAddr1KeyDown(QWidget* sender, int key, Qt::KeyboardModifiers shift);
  void btnWriteSpecI2CClick();
  void btnReadSpecI2CClick();

 signals:
  // A handler was turned away and the user told that an operation is running.
  void OperationRunningShown();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void KeepHiddenPagesShut(int index);
  void WireDetection();
  void WireIsp();
  void WireParameter();
  void ShowIspSetting(const velmora::IspSetting& setting);
  std::array<QCheckBox*, velmora::kIspStepCount> IspStepBoxes() const;
  velmora::ChipLink ParameterLink() { return {usb_, sleeper_}; }
  void WireBinFile();
  void WireRegisterPages();
  void WireInformationTab();
  velmora::ChipLink IspLink() { return {usb_, sleeper_}; }
  velmora::FlashRange CurrentFlashRange() const;
  void RunRangeButton(velmora::RangeOperation operation);
  void RunAutoPass(const velmora::FlashRange& range);
  void ShowIndicator(velmora::IndicatorColour colour);

  velmora::VelmoraUsb& usb_;
  velmora::Sleeper& sleeper_;
  velmora::Dialogs& dialogs_;
  velmora::EventPump& pump_;
  const velmora::FormStartup startup_;
  velmora::PresenceMonitor presence_;
  std::unique_ptr<velmora::FormFlashProgress> isp_progress_;  // the ISP page's labels and pump
  bool device_claimed_ = false;  // a handler holds the device (ClaimDevice)
  bool auto_running_ = false;    // an Auto run is in progress (a click then asks it to stop)

  // Register and I2C pages: one grid mechanism, two ports.
  velmora::ChipLink register_link_{usb_, sleeper_};
  velmora::ChipRegisterPort chip_register_port_{register_link_};
  velmora::I2cSlaveRegisterPort slave_register_port_{register_link_, I2cSlaveAddress};
  std::unique_ptr<velmora::RegisterGridPage> register_page_;
  std::unique_ptr<velmora::RegisterGridPage> i2c_page_;
};
