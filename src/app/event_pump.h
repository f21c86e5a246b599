// The event pump: long operations hand control to the window once per chunk, page or poll, so a
// click made meanwhile runs its handler (nested, on the same thread) before the operation goes on.
#pragma once

#include <QCoreApplication>

namespace velmora {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Processes the events pending now and returns; never waits for new ones.
  virtual void Pump() = 0;
};

class QtEventPump final : public EventPump {
 public:
  void Pump() override { QCoreApplication::processEvents(); }
};

}  // namespace velmora
