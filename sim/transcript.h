// What the tool did, in order: every platform call of the virtual USB platform, every pause of
// the virtual clock and every event pump of a test front end. Tests compare exact sequences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "usb_platform.h"

namespace velmora::sim {

struct TranscriptEvent {
  enum class Kind { Enumerate, Open, Close, Transfer, Probe, Pause, Pump };
  Kind kind = Kind::Pause;
  Backend backend = Backend::Generic;  // Enumerate, Transfer, Probe
  std::string path;                    // Open (the path asked for)
  UsbHandle handle = kNoHandle;        // Open (result), Close, Transfer, Probe
  ControlSetup setup;                  // Transfer
  std::uint32_t length = 0;            // Transfer: wLength
  std::vector<std::uint8_t> data;      // Transfer: bytes sent (OUT) or received (IN, when ok)
  bool ok = false;                     // Open, Transfer, Probe, Enumerate
  unsigned ms = 0;                     // Pause
};

class Transcript {
 public:
  void Add(TranscriptEvent event) { events_.push_back(std::move(event)); }
  void AddPause(unsigned ms);
  void AddPump();
  const std::vector<TranscriptEvent>& Events() const { return events_; }
  void Clear() { events_.clear(); }

  // Convenience views for tests.
  std::vector<TranscriptEvent> Transfers() const;
  std::size_t Count(TranscriptEvent::Kind kind) const;
  unsigned TotalPauseMs() const;

 private:
  std::vector<TranscriptEvent> events_;
};

}  // namespace velmora::sim
