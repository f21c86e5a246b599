// A virtual chip on a virtual bus and clock, found and ready for the flash engine, with a
// progress front end that records every label text and can act at chosen moments.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "auto_sequence.h"  // and the flash engine and chip commands it drives
#include "flash_texts.h"
#include "virtual_chip.h"  // and the clock, bus and transcript it runs on

namespace velmora::testing {

using sim::TranscriptEvent;
using Kind = TranscriptEvent::Kind;
using Flip = sim::VirtualChip::Flip;
using Strings = std::vector<std::string>;

inline const std::string kUnaligned =
    "Start and size must be multiples of 4 KB to erase in sectors";

// Records the three labels in order and counts pumps; hooks let a test inject a fault or a stop
// request at a given text or pump, as a user or a flaky cable would.
struct RecordingProgress final : FlashProgress {
  explicit RecordingProgress(sim::Transcript& transcript) : transcript_(transcript) {}
  void ProcessText(const std::string& text) override {
    process.push_back(text);
    if (on_process_text) on_process_text(text);
  }
  void AddressText(const std::string& text) override {
    address.push_back(text);
    if (on_address_text) on_address_text(text);
  }
  void StatusText(const std::string& text) override { status.push_back(text); }
  void Pump() override {
    transcript_.AddPump();
    ++pumps;
    if (on_pump) on_pump(pumps);
  }
  bool StopRequested() const override { return stop; }

  Strings process, address, status;
  int pumps = 0;
  bool stop = false;
  std::function<void(const std::string&)> on_process_text, on_address_text;
  std::function<void(int)> on_pump;
  sim::Transcript& transcript_;
};

constexpr FlashRange Assign(std::uint32_t start, std::uint32_t size) {
  return {RangeChoice::AssignRange, start, size};
}
inline bool AllAre(const std::vector<std::uint8_t>& bytes, std::uint8_t value) {
  return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == value; });
}

// Never-written flash reads 0xCC so that neither "blank" nor "zeroed" can pass by accident.
inline sim::FlashConfig TestFlash(sim::FlashId id = {0xC2, 0x20, 0x13}) {
  return {.id = id, .fill = 0xCC, .times = {}};
}

// The whole bench: transcript, clock, platform, chip, device link and the recording front end.
struct ChipRig {
  explicit ChipRig(sim::FlashConfig config = TestFlash()) : chip(clock, config) {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    usb.FindDevice();
    transcript.Clear();
  }
  // ISP mode for what follows, the link left open (the range passes) or closed (the operations
  // that open it themselves); what that took is forgotten.
  void OpenInIspMode(bool keep_open = true) {
    usb.Open();
    IspEnter(link);
    if (!keep_open) usb.Close();
    transcript.Clear();
  }
  // The transfers with bRequest `request` (and, when `op` is given, first data byte `op`).
  std::vector<TranscriptEvent> Requests(std::uint8_t request, int op = -1) const {
    std::vector<TranscriptEvent> out = transcript.Transfers();
    std::erase_if(out, [&](const TranscriptEvent& e) {
      return e.setup.request != request || (op >= 0 && (e.data.empty() || e.data[0] != op));
    });
    return out;
  }
  // One Auto run; the identifier it reads is kept in `id` for the next.
  AutoOutcome Auto(const AutoSteps& steps, const ProgramImage& image, const FlashRange& range = {},
                   AutoProfile profile = AutoProfile::Design) {
    return RunAutoSequence(ctx, steps, range, image, id, nullptr, profile);
  }
  // Every status bit the part lets the tool set is set: the last status write was 0xFF.
  bool Protected() {
    const std::uint8_t writable = chip.Flash().WritableStatusBits();
    return (chip.Flash().Status() & writable) == writable;
  }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  sim::VirtualChip chip;
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
  RecordingProgress progress{transcript};
  FlashContext ctx{link, progress};
  ChipIdBytes id{};
  std::shared_ptr<void> keep_alive;  // a device a test put between the link and the chip
};

class ChipUnderTest : public ::testing::Test, protected ChipRig {};

// Stands between the link and the chip: the transfers that `fails` picks fail like stalls
// without reaching the chip (a cable that loses chosen requests); all others go through.
class RequestFilter final : public sim::VirtualDevice {
 public:
  using Rule =
      std::function<bool(const ControlSetup&, const std::uint8_t* data, std::uint32_t length)>;
  RequestFilter(ChipRig& rig, Rule fails) : chip_(rig.chip), fails_(std::move(fails)) {
    rig.platform.Plug(sim::kAudioPath, this);
  }
  bool HandleControl(Backend backend, const ControlSetup& setup, std::uint8_t* data,
                     std::uint32_t length) override {
    if (fails_(setup, data, length)) return ++failed, false;
    return chip_.HandleControl(backend, setup, data, length);
  }
  int failed = 0;

 private:
  sim::VirtualChip& chip_;
  Rule fails_;
};

// True for a flash command (0x80 or 0x81 with an opcode and up to 3 address bytes, not the data
// of a page) whose opcode is `op`.
inline bool IsFlashCommand(const ControlSetup& setup, const std::uint8_t* data,
                           std::uint32_t length, std::uint8_t op) {
  return (setup.request == 0x80 || setup.request == 0x81) && length >= 1 && length <= 4 &&
         data[0] == op;
}

// 24-bit address carried after the opcode of a flash command transfer.
inline std::uint32_t AddressOf(const TranscriptEvent& e) {
  return std::uint32_t{e.data.at(1)} << 16 | std::uint32_t{e.data.at(2)} << 8 | e.data.at(3);
}

// The transcript in short words, for checking exact orders: "open", "close", "pump", "p10" (a
// pause), and per transfer the request in hex, "/" and the first data byte of an OUT request,
// "~" for a page program header (0x80 with more pieces to follow) and "-" for a failed one.
inline Strings Trace(const sim::Transcript& transcript) {
  Strings out;
  for (const auto& e : transcript.Events()) {
    if (e.kind == Kind::Open) out.push_back("open");
    if (e.kind == Kind::Close) out.push_back("close");
    if (e.kind == Kind::Pump) out.push_back("pump");
    if (e.kind == Kind::Pause) out.push_back("p" + std::to_string(e.ms));
    if (e.kind != Kind::Transfer) continue;
    std::string word = texts::Hex(e.setup.request, 2);
    if (!e.setup.DeviceToHost() && !e.data.empty()) word += "/" + texts::Hex(e.data[0], 2);
    if (e.setup.request == 0x80 && e.setup.index == 0) word += "~";
    out.push_back(e.ok ? word : word + "-");
  }
  return out;
}

// An image of `length` pseudo-random bytes (fixed seed), 0xFF fill beyond.
inline ProgramImage RandomImage(std::uint32_t length, std::uint32_t seed = 7) {
  ProgramImage image;
  std::mt19937 random(seed);
  for (std::uint32_t i = 0; i < length; ++i) image.bytes[i] = static_cast<std::uint8_t>(random());
  image.length = length;
  return image;
}

inline std::vector<std::uint8_t> ImageBytes(const ProgramImage& image, std::uint32_t offset,
                                            std::uint32_t count) {
  return {image.bytes.begin() + offset, image.bytes.begin() + offset + count};
}

}  // namespace velmora::testing
