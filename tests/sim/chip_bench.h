// The test bench of the chip tests: the virtual chip (0xCC in never-written flash) found and
// opened over the device link, and the transcript in short words. Used by the sim's own tests,
// which send raw requests, and by the command set's, which check the wire of each command.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chip_commands.h"
#include "transcript.h"
#include "virtual_chip.h"

namespace velmora::test {

using Bytes = std::vector<std::uint8_t>;
inline constexpr std::uint8_t kFill = 0xCC;

inline std::string Hex(const Bytes& bytes) {
  std::string out;
  char text[4];
  for (const std::uint8_t b : bytes) out += (std::snprintf(text, sizeof text, "%02X", b), text);
  return out;
}

// "P1" a pause, "open"/"close", "W93=A1" a register write, "R90=EE" a register read; any other
// request as its number, "v" wValue and "i" wIndex when not 0, then ":" and the bytes sent or
// "=" and the bytes received. "!" ends a failed transfer.
inline std::string Word(const sim::TranscriptEvent& e) {
  using Kind = sim::TranscriptEvent::Kind;
  if (e.kind == Kind::Pause) return "P" + std::to_string(e.ms);
  if (e.kind != Kind::Transfer) return e.kind == Kind::Open ? "open" : "close";
  const auto& s = e.setup;
  const bool reg = s.request == request::kRegWrite || s.request == request::kRegRead;
  char head[24];
  if (reg) {
    std::snprintf(head, sizeof head, "%c%02X", s.request == request::kRegWrite ? 'W' : 'R',
                  s.index);
  } else {
    int n = std::snprintf(head, sizeof head, "%02X", s.request);
    if (s.value != 0) n += std::snprintf(head + n, sizeof head - n, "v%X", s.value);
    if (s.index != 0) std::snprintf(head + n, sizeof head - n, "i%X", s.index);
  }
  const bool in = s.DeviceToHost();
  const char* mark = in && !e.ok ? "" : in || reg ? "=" : ":";
  return head + (mark + Hex(e.data)) + (e.ok ? "" : "!");
}

// The bench's flash: `id` from the part table, never-written bytes kFill.
inline sim::FlashConfig TestFlash(sim::FlashId id = sim::FlashConfig{}.id) {
  sim::FlashConfig config;
  config.id = id;
  config.fill = kFill;
  return config;
}

class ChipBench : public ::testing::Test {
 protected:
  ChipBench() : chip(clock, TestFlash()) {
    chip.PlugInto(platform);
    usb.SetBackend(VelmoraUsb::kPropertyBackend);
    usb.SetMatchText("vid_6ccf&pid_6012");
    usb.FindDevice();
    usb.Open();
    transcript.Clear();
  }
  // The words since the last call.
  std::string Trace() {
    std::string out;
    for (const auto& e : transcript.Events()) out += (out.empty() ? "" : " ") + Word(e);
    transcript.Clear();
    return out;
  }
  // One raw request with `data` as its data stage (IN: the answer lands there).
  bool Send(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
            Bytes& data) {
    return usb.ControlTransfer(type, request, value, index, data.data(), std::size(data));
  }
  bool Out(std::uint8_t request, std::uint16_t value, std::uint16_t index, Bytes data) {
    return Send(request::kHostToDevice, request, value, index, data);
  }
  // Lets the flash finish its cycle; true, to chain after the commands that start one.
  bool Idle() {
    while (chip.Flash().Busy()) clock.Advance(1000);
    return true;
  }
  sim::ChipRegisters& regs() { return chip.Registers(); }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  sim::VirtualChip chip;
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
};

}  // namespace velmora::test
