// The firmware side of the audio bridge chip: answers the eight vendor requests, passes flash
// commands through to its serial flash, keeps ISP mode and forwards register requests to the
// register bank. It also carries the faults tests need (failed transfers, a flash that never
// gets ready or never finishes, corrupted read-back, an unplug in the middle of a job).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "chip_registers.h"
#include "spi_flash_model.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora::sim {

// Identity paths the chip plugs in under: as an audio device, and as its firmware-update loader
// under either of the loader's vendor ids.
inline constexpr const char* kAudioPath = "usb:vid_6ccf&pid_6012:bus1-port1";
inline constexpr const char* kLoaderPath6ccf = "usb:vid_6ccf&pid_6000:bus1-port1";
inline constexpr const char* kLoaderPath1d7a = "usb:vid_1d7a&pid_6000:bus1-port1";

class VirtualChip final : public VirtualDevice {
 public:
  static constexpr std::uint32_t kReadBackCapacity = 255;
  static constexpr std::uint32_t kMaxSpiWrite = 256;

  explicit VirtualChip(VirtualClock& clock, FlashConfig flash = {});
  VirtualChip(const VirtualChip&) = delete;
  VirtualChip& operator=(const VirtualChip&) = delete;

  bool HandleControl(Backend backend, const ControlSetup& setup, std::uint8_t* data,
                     std::uint32_t length) override;
  bool HandleProbe(Backend backend) override;

  // Plugs the chip into `platform` under `path` and remembers both, so an injected unplug can
  // take it off the bus again. May be called for several paths.
  void PlugInto(VirtualUsbPlatform& platform, const std::string& path = kAudioPath,
                Visibility visibility = Visibility::Both);
  // Takes the chip off every path it was plugged under (later searches miss it) and fails every
  // transfer from now on; Replug puts it back under the same paths. Losing power ends ISP mode,
  // clears the read-back buffer and resets the flash's volatile state (see PowerCycle); the
  // register bank keeps its values.
  void Unplug();
  void Replug();
  bool Unplugged() const { return unplugged_; }

  // --- behaviour switches ---
  // Time from a flash request until 0x83 reports it finished (0 = at once).
  void SetSpiReadyDelayUs(std::uint64_t us) { spi_ready_delay_us_ = us; }
  // The byte 0x83 answers for "finished" (1 by default). The firmware promises only a nonzero
  // byte; a zero here is taken as 1.
  void SetReadyAnswer(std::uint8_t answer) { ready_answer_ = answer != 0 ? answer : 1; }
  // Clock time every transfer takes on the device (0 by default).
  void SetTransferLatencyUs(std::uint64_t us) { latency_us_ = us; }

  // --- faults ---
  // The next `count` transfers fail as stalls, with no effect on the chip.
  void FailNextTransfers(std::uint32_t count) { fail_next_ = count; }
  // Every transfer with this bRequest fails (until cleared with `fails` false).
  void FailRequest(std::uint8_t request, bool fails = true);
  // Request 0x83 always answers 0: the bridge never reports a flash command finished.
  void SetNeverReady(bool never) { never_ready_ = never; }
  // The flash's busy bit stays set.
  void SetFlashStuckBusy(bool stuck) { flash_.SetStuckBusy(stuck); }
  // XORs `mask` into byte `byte_index` of the answers of 0x82: the next answer only, or all.
  enum class Flip { Once, Always };
  void FlipReadBits(std::uint8_t mask, Flip mode = Flip::Once, std::uint32_t byte_index = 0);
  void StopFlippingReadBits() { flip_mask_ = 0; }
  // After `transfers` more transfers have been answered, the chip unplugs itself (see Unplug);
  // the transfer that finds it gone fails.
  void UnplugAfterTransfers(std::uint32_t transfers) { unplug_countdown_ = transfers; }
  // The driver probe fails while set.
  void SetProbeFails(bool fails) { probe_fails_ = fails; }
  // Runs `hook` before each transfer is handled, with the number of transfers handled before it
  // (0 for the first), so a test can inject any of the faults above at a chosen transfer.
  void SetTransferHook(std::function<void(std::uint32_t index)> hook) {
    transfer_hook_ = std::move(hook);
  }

  // Puts the chip in the ISP state an earlier run left it in: with `isp_mode` as if the entry
  // key and the whole bank 0x0D set-up had been given, without: as after the exit key. For a chip
  // kept in files between runs (the register bank is not touched).
  void RestoreIspMode(bool isp_mode) { isp_mode_ = isp_setup_07_ = isp_setup_01_ = isp_mode; }

  // --- inspection ---
  SpiFlashModel& Flash() { return flash_; }
  ChipRegisters& Registers() { return registers_; }
  // The entry key was given (and not yet the exit key).
  bool InIspMode() const { return isp_mode_; }
  // The serial bus is handed to the bridge: ISP mode and the whole bank 0x0D set-up after it
  // (register 0x07 := 0x10 and register 0x01 := 0x03). Only then do 0x80/0x81 reach the flash.
  bool FlashReachable() const;
  // The chip's clock: the tool's pauses and the transfers' latency.
  std::uint64_t NowUs() const { return clock_.NowUs(); }
  // Transfers answered successfully / refused (stall, fault, unplugged).
  std::uint32_t TransfersAnswered() const { return answered_; }
  std::uint32_t TransfersRefused() const { return refused_; }
  // The bytes the last 0x81 clocked back into the read-back buffer, before any injected flip.
  std::vector<std::uint8_t> LastReadBack() const;
  // Whether 0x82 would answer now: a 0x83 has reported the last 0x81 finished.
  bool ReadBackReady() const { return read_back_ready_; }

 private:
  bool Dispatch(const ControlSetup& setup, std::uint8_t* data, std::uint32_t length);
  bool SpiWrite(const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length);
  bool SpiReadCommand(const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length);
  bool SpiReadData(std::uint8_t* data, std::uint32_t length);
  bool SpiStatus(const ControlSetup& setup, std::uint8_t* data, std::uint32_t length);
  bool RegisterWrite(const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length);
  void MarkSpiStarted();

  VirtualClock& clock_;
  SpiFlashModel flash_;
  ChipRegisters registers_;

  bool isp_mode_ = false;
  // The bank 0x0D set-up writes seen since the entry key.
  bool isp_setup_07_ = false;
  bool isp_setup_01_ = false;
  std::uint64_t spi_ready_delay_us_ = 0;
  std::uint64_t spi_ready_at_us_ = 0;
  std::uint8_t ready_answer_ = 1;
  std::uint64_t latency_us_ = 0;
  // The read-back buffer keeps its bytes until the next 0x81 overwrites them. 0x82 may fetch at
  // most read_back_count_ bytes, and only once 0x83 has reported that 0x81 finished.
  std::array<std::uint8_t, kReadBackCapacity> read_back_{};
  std::uint32_t read_back_count_ = 0;
  bool read_back_ready_ = false;

  // Faults.
  std::uint32_t fail_next_ = 0;
  std::array<bool, 256> failing_requests_{};
  bool never_ready_ = false;
  std::uint8_t flip_mask_ = 0;
  Flip flip_mode_ = Flip::Once;
  std::uint32_t flip_index_ = 0;
  std::optional<std::uint32_t> unplug_countdown_;
  bool probe_fails_ = false;
  bool unplugged_ = false;
  std::function<void(std::uint32_t)> transfer_hook_;

  struct PlugPoint {
    VirtualUsbPlatform* platform;
    std::string path;
    Visibility visibility;
  };
  std::vector<PlugPoint> plugged_under_;

  std::uint32_t answered_ = 0;
  std::uint32_t refused_ = 0;
};

}  // namespace velmora::sim
