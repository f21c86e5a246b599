#include "virtual_chip.h"

#include <algorithm>

namespace velmora::sim {
namespace {

constexpr std::uint8_t kOut = 0x43;  // vendor, recipient other, host-to-device
constexpr std::uint8_t kIn = 0xC3;   // vendor, recipient other, device-to-host

constexpr std::uint8_t kSpiWrite = 0x80, kSpiReadCommand = 0x81, kSpiReadData = 0x82,
                       kSpiStatus = 0x83, kIspEnter = 0x84, kIspExit = 0x85, kRegWrite = 0x90,
                       kRegRead = 0x91;
constexpr std::uint16_t kIspEnterValue = 0x3B71, kIspEnterIndex = 0x9E04;
constexpr std::uint16_t kIspExitValue = 0x6D2A, kIspExitIndex = 0xC85E;

// The bridge's command buffer for 0x81: an opcode and three address bytes.
constexpr std::uint32_t kMaxReadCommand = 4;
// The ISP set-up of bank 0x0D that hands the serial bus to the bridge.
constexpr std::uint8_t kIspSetupMode = 0x07, kIspSetupModeValue = 0x10;
constexpr std::uint8_t kIspSetupBus = 0x01, kIspSetupBusValue = 0x03;
// What the bridge clocks out while it clocks an answer in.
constexpr std::uint8_t kDummyByte = 0xFF;

bool Is(const ControlSetup& setup, std::uint8_t type, std::uint16_t value, std::uint16_t index) {
  return setup.request_type == type && setup.value == value && setup.index == index;
}

}  // namespace

VirtualChip::VirtualChip(VirtualClock& clock, FlashConfig flash)
    : clock_(clock), flash_(clock, flash), registers_(clock) {}

void VirtualChip::PlugInto(VirtualUsbPlatform& platform, const std::string& path,
                           Visibility visibility) {
  platform.Plug(path, this, visibility);
  plugged_under_.push_back(PlugPoint{&platform, path, visibility});
}

void VirtualChip::Unplug() {
  unplugged_ = true;
  unplug_countdown_.reset();
  isp_mode_ = false;
  isp_setup_07_ = isp_setup_01_ = false;
  read_back_.fill(0);
  read_back_count_ = 0;
  read_back_ready_ = false;
  flash_.PowerCycle();
  for (const auto& point : plugged_under_) point.platform->Unplug(point.path);
}

void VirtualChip::Replug() {
  unplugged_ = false;
  for (const auto& point : plugged_under_) {
    point.platform->Plug(point.path, this, point.visibility);
  }
}

void VirtualChip::FailRequest(std::uint8_t request, bool fails) {
  failing_requests_[request] = fails;
}

void VirtualChip::FlipReadBits(std::uint8_t mask, Flip mode, std::uint32_t byte_index) {
  flip_mask_ = mask;
  flip_mode_ = mode;
  flip_index_ = byte_index;
}

std::vector<std::uint8_t> VirtualChip::LastReadBack() const {
  return {read_back_.begin(), read_back_.begin() + read_back_count_};
}

bool VirtualChip::HandleProbe(Backend) {
  return !unplugged_ && !probe_fails_;
}

bool VirtualChip::HandleControl(Backend, const ControlSetup& setup, std::uint8_t* data,
                                std::uint32_t length) {
  if (transfer_hook_) transfer_hook_(answered_ + refused_);
  clock_.Advance(latency_us_);
  bool refuse = unplugged_;
  if (!refuse && unplug_countdown_) {
    if (*unplug_countdown_ == 0) {
      Unplug();
      refuse = true;
    } else {
      --*unplug_countdown_;
    }
  }
  if (!refuse && fail_next_ > 0) {
    --fail_next_;
    refuse = true;
  }
  if (!refuse && failing_requests_[setup.request]) refuse = true;
  // A refused transfer leaves the chip and the host's buffer untouched.
  const bool ok = !refuse && Dispatch(setup, data, length);
  ++(ok ? answered_ : refused_);
  return ok;
}

// Each request is answered only with its exact direction, fixed setup values and a data stage
// length it can carry; anything else stalls.
bool VirtualChip::Dispatch(const ControlSetup& setup, std::uint8_t* data, std::uint32_t length) {
  switch (setup.request) {
    case kSpiWrite:
      return SpiWrite(setup, data, length);
    case kSpiReadCommand:
      return SpiReadCommand(setup, data, length);
    case kSpiReadData:
      if (!Is(setup, kIn, 0, 0)) return false;
      return SpiReadData(data, length);
    case kSpiStatus:
      return SpiStatus(setup, data, length);
    case kIspEnter:
      if (!Is(setup, kOut, kIspEnterValue, kIspEnterIndex) || length != 0) return false;
      if (!isp_mode_) {
        // The firmware keeps the serial bus until the bank 0x0D set-up follows the key.
        isp_mode_ = true;
        isp_setup_07_ = isp_setup_01_ = false;
      }
      return true;
    case kIspExit:
      if (!Is(setup, kOut, kIspExitValue, kIspExitIndex) || length != 0) return false;
      isp_mode_ = false;
      isp_setup_07_ = isp_setup_01_ = false;
      flash_.Deselect();  // the bridge hands the bus back to the firmware
      return true;
    case kRegWrite:
      return RegisterWrite(setup, data, length);
    case kRegRead:
      if (setup.request_type != kIn || setup.value != 0 || length != 1) return false;
      data[0] = registers_.Read(setup.index);
      return true;
    default:
      return false;
  }
}

bool VirtualChip::FlashReachable() const {
  return isp_mode_ && isp_setup_07_ && isp_setup_01_;
}

bool VirtualChip::RegisterWrite(const ControlSetup& setup, const std::uint8_t* data,
                                std::uint32_t length) {
  if (setup.request_type != kOut || setup.value != 0 || length != 1) return false;
  const bool reachable_before = FlashReachable();
  registers_.Write(setup.index, data[0]);
  const auto reg = static_cast<std::uint8_t>(setup.index);
  if (registers_.bank() == ChipRegisters::kIspBank) {
    // In ISP mode, the set-up values hand the bus over; any other value takes it back.
    if (reg == kIspSetupMode) isp_setup_07_ = isp_mode_ && data[0] == kIspSetupModeValue;
    if (reg == kIspSetupBus) isp_setup_01_ = isp_mode_ && data[0] == kIspSetupBusValue;
  }
  if (reachable_before && !FlashReachable()) flash_.Deselect();
  return true;
}

void VirtualChip::MarkSpiStarted() {
  spi_ready_at_us_ = clock_.NowUs() + spi_ready_delay_us_;
}

bool VirtualChip::SpiWrite(const ControlSetup& setup, const std::uint8_t* data,
                           std::uint32_t length) {
  if (setup.request_type != kOut || setup.value != 0 || setup.index > 1) return false;
  if (length < 1 || length > kMaxSpiWrite) return false;
  if (!FlashReachable()) return true;  // accepted, but the firmware owns the bus
  flash_.Select();
  for (std::uint32_t i = 0; i < length; ++i) flash_.Transfer(data[i]);
  if (setup.index == 1) flash_.Deselect();  // the last piece ends the command
  MarkSpiStarted();
  return true;
}

bool VirtualChip::SpiReadCommand(const ControlSetup& setup, const std::uint8_t* data,
                                 std::uint32_t length) {
  if (setup.request_type != kOut || setup.index != 1) return false;
  // The command buffer takes an opcode alone or an opcode with three address bytes.
  if (setup.value > kReadBackCapacity || (length != 1 && length != kMaxReadCommand)) return false;
  read_back_ready_ = false;
  read_back_count_ = 0;
  if (!FlashReachable()) return true;  // accepted; nothing is clocked and it never finishes
  flash_.Select();
  for (std::uint32_t i = 0; i < length; ++i) flash_.Transfer(data[i]);
  read_back_count_ = setup.value;
  for (std::uint32_t i = 0; i < read_back_count_; ++i) read_back_[i] = flash_.Transfer(kDummyByte);
  flash_.Deselect();
  MarkSpiStarted();
  return true;
}

bool VirtualChip::SpiStatus(const ControlSetup& setup, std::uint8_t* data, std::uint32_t length) {
  if (!Is(setup, kIn, 0, 0) || length != 1) return false;
  const bool finished = !never_ready_ && FlashReachable() && clock_.NowUs() >= spi_ready_at_us_;
  data[0] = finished ? ready_answer_ : 0;
  if (finished) read_back_ready_ = true;
  return true;
}

bool VirtualChip::SpiReadData(std::uint8_t* data, std::uint32_t length) {
  if (length < 1 || length > kReadBackCapacity) return false;
  // Nothing to fetch before the bridge has said the read finished, and no more than it read.
  if (!read_back_ready_ || length > read_back_count_) return false;
  std::copy_n(read_back_.begin(), length, data);
  if (flip_mask_ != 0 && flip_index_ < length) {
    data[flip_index_] ^= flip_mask_;
    if (flip_mode_ == Flip::Once) flip_mask_ = 0;
  }
  return true;
}

}  // namespace velmora::sim
