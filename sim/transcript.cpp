#include "transcript.h"

namespace velmora::sim {

void Transcript::AddPause(unsigned ms) {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Pause;
  e.ms = ms;
  events_.push_back(std::move(e));
}

void Transcript::AddPump() {
  TranscriptEvent e;
  e.kind = TranscriptEvent::Kind::Pump;
  events_.push_back(std::move(e));
}

std::vector<TranscriptEvent> Transcript::Transfers() const {
  std::vector<TranscriptEvent> out;
  for (const auto& e : events_) {
    if (e.kind == TranscriptEvent::Kind::Transfer) out.push_back(e);
  }
  return out;
}

std::size_t Transcript::Count(TranscriptEvent::Kind kind) const {
  std::size_t n = 0;
  for (const auto& e : events_) n += e.kind == kind;
  return n;
}

unsigned Transcript::TotalPauseMs() const {
  unsigned total = 0;
  for (const auto& e : events_) {
    if (e.kind == TranscriptEvent::Kind::Pause) total += e.ms;
  }
  return total;
}

}  // namespace velmora::sim
