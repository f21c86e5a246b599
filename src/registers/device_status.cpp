#include "device_status.h"

namespace velmora {
namespace {

constexpr std::uint8_t kConnected = 0x01, kDsd = 0x02, kMuted = 0x04;
constexpr std::size_t kDsdTexts = 16;  // the DSD half of the rate table
constexpr std::string_view kBlank = "        ";

}  // namespace

const std::array<std::string_view, 32> RateTextTable = {
    " 44.1KHz", "   48KHz", " 88.2KHz", "   96KHz", "176.4KHz", "  192KHz", "352.8KHz", "  384KHz",
    "705.6KHz", "  768KHz", kBlank,     kBlank,     kBlank,     kBlank,     kBlank,     kBlank,
    " DoP  64", " DoP 128", " DoP 256", " DoP 512", kBlank,     kBlank,     kBlank,     kBlank,
    " DSD  64", " DSD 128", " DSD 256", " DSD 512", kBlank,     kBlank,     kBlank,     kBlank,
};

bool ReadDeviceStatus(ChipLink& link, DeviceStatus& status) {
  link.usb.Open();
  RegSelectBank(link, 0x00);
  bool all_read = RegRead(link, status_register::kRateCode, status.rate_code);
  all_read = RegRead(link, status_register::kSecond, status.second) && all_read;
  all_read = RegRead(link, status_register::kFlags, status.flags) && all_read;
  link.usb.Close();
  return all_read;
}

StatusDisplay DescribeStatus(const DeviceStatus& status) {
  StatusDisplay shown;
  if ((status.flags & kConnected) == 0) {
    shown.connect = "USB Disconnected";
    return shown;
  }
  shown.connect = "USB connected";
  shown.mute_enabled = true;
  if ((status.flags & kMuted) != 0) {
    shown.mute = "Mute";
    return shown;
  }
  shown.mute = "Playing";
  shown.format_enabled = true;
  const std::size_t rate = status.rate_code & 0x0F;
  const bool dsd = (status.flags & kDsd) != 0;
  shown.format = dsd ? "DSD" : "PCM";
  shown.rate = std::string(RateTextTable[dsd ? kDsdTexts + rate : rate]);
  return shown;
}

}  // namespace velmora
