// The device link a command talks through: the USB bus of this system, or with --virtual the
// virtual chip plugged in as the audio device 6ccf:6012, its flash kept in a file between runs
// when --virtual-flash names one. With --verbose every request is printed on the way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "chip_commands.h"
#include "cli_environment.h"
#include "device_lock.h"
#include "global_options.h"
#include "request_log.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_flash_files.h"
#include "virtual_usb_platform.h"

namespace velmora::cli {

class DeviceBench {
 public:
  // Sets the link up. With --virtual the part is the one of the virtual chip's part table that
  // --virtual-id names (FF FF FF or 00 00 00: no flash answers), and its flash is loaded from
  // --virtual-flash when that file exists (erased, all 0xFF, when it does not), with the status
  // register and ISP mode its FILE.state kept (virtual_flash_files.h). Returns nullptr with
  // `error` in words when the id is not six hex digits or names no part, another run holds the
  // flash file's lock, or the flash file cannot be read or does not hold exactly the part's size.
  static std::unique_ptr<DeviceBench> Create(const GlobalOptions& options, CliEnvironment& env,
                                             std::string& error);
  ~DeviceBench() = default;
  DeviceBench(const DeviceBench&) = delete;
  DeviceBench& operator=(const DeviceBench&) = delete;

  VelmoraUsb& Usb() { return *usb_; }
  // The bus as the link sees it (with --verbose, through the request log).
  UsbPlatform& Bus() { return *bus_; }
  // From now on the link sees only the device with this identity path.
  void RestrictTo(const std::string& identity);
  // Keeps `lock` until the bench goes, after the link has closed its handle.
  void HoldLock(std::unique_ptr<DeviceLock> lock) { lock_ = std::move(lock); }
  ChipLink& Link() { return *link_; }
  // The virtual chip, or nullptr on the real bus.
  sim::VirtualChip* VirtualChip() { return chip_.get(); }

  // With --virtual-flash: writes the chip's flash to its file in one step, when the file did not
  // exist or the flash changed, and the chip's state to FILE.state. Nothing to do counts as
  // success.
  FileWriteResult SaveVirtualFlash();

 private:
  DeviceBench() = default;

  // In the order they depend on each other: the device link closes its handle through the
  // platform when it goes, so it is declared after the platforms and destroyed before them.
  // The lock goes last.
  std::unique_ptr<DeviceLock> lock_;
  std::unique_ptr<UsbPlatform> real_platform_;
  std::unique_ptr<sim::VirtualClock> clock_;
  std::unique_ptr<sim::VirtualUsbPlatform> virtual_platform_;
  std::unique_ptr<sim::VirtualChip> chip_;
  std::unique_ptr<Sleeper> virtual_sleeper_;
  std::unique_ptr<RequestLog> request_log_;
  std::unique_ptr<UsbPlatform> only_device_;
  UsbPlatform* bus_ = nullptr;
  Sleeper* sleeper_ = nullptr;
  std::unique_ptr<VelmoraUsb> usb_;
  std::unique_ptr<ChipLink> link_;

  std::string flash_file_;
  std::optional<FlashFileLock> flash_lock_;
  bool flash_file_existed_ = false;
  std::vector<std::uint8_t> flash_loaded_;
};

}  // namespace velmora::cli
