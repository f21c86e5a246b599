#include "hid_keys.h"

namespace velmora {
namespace {

constexpr std::uint16_t kCommandRegister = 0x90, kKeyRegister = 0x91;
constexpr std::uint8_t kKeyCommand = 0x30, kKeyTaken = 0x31;
constexpr int kPolls = 10;
constexpr unsigned kPollPauseMs = 10;

}  // namespace

bool SendHidKey(ChipLink& link, std::uint8_t key_code) {
  link.usb.Open();
  RegSelectBank(link, 0x00);
  RegWrite(link, kKeyRegister, key_code);
  RegWrite(link, kCommandRegister, kKeyCommand);
  bool taken = false;
  for (int poll = 0; poll < kPolls && !taken; ++poll) {
    link.sleeper.SleepMs(kPollPauseMs);
    std::uint8_t state = 0;
    taken = RegRead(link, kCommandRegister, state) && state == kKeyTaken;
  }
  link.usb.Close();
  return taken;
}

}  // namespace velmora
