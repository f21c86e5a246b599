// The event pump for tests: processes pending Qt events like the real one and first runs an
// optional hook, so a test can deliver a click in the middle of a long operation.
#pragma once

#include <functional>

#include "event_pump.h"

namespace velmora::test {

class HookedEventPump final : public EventPump {
 public:
  void Pump() override {
    ++pumps;
    if (hook) hook(pumps);
    QCoreApplication::processEvents();
  }

  std::function<void(int pump_number)> hook;
  int pumps = 0;
};

}  // namespace velmora::test
