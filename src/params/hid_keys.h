// The media keys of the device's HID function, sent as if pressed on the device: a register
// handshake with the chip's firmware in bank 0x00. Plain C++; the Information tab's five HID
// buttons and a command-line front end use it.
#pragma once

#include <array>
#include <cstdint>

#include "chip_commands.h"

namespace velmora {

// The key code of each HID button, indexed by the digit that ends the button's name: "HID Prev",
// "HID Vol -", "HID Play", "HID Vol +", "HID Next".
inline constexpr std::array<std::uint8_t, 5> HidKeyCode = {0x40, 0x02, 0x10, 0x01, 0x20};

// Opens the link, selects bank 0x00, writes `key_code` to register 0x91 and the key command 0x30
// to register 0x90, then up to 10 times waits 10 ms and reads register 0x90 until the firmware
// answers 0x31; closes the link. Register 0x90 is left as the firmware left it. Result: whether
// the answer came (the window ignores it: without a device, or without an answer, the handshake
// just ends after its ten polls).
bool SendHidKey(ChipLink& link, std::uint8_t key_code);

}  // namespace velmora
