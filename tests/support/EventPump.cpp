#include "tests/support/EventPump.h"

#include "platform/Application.h"

namespace pelicore::test {

bool PumpUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    Application().ProcessMessages();
    if (Condition()) return true;
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    SleepMs(1);
  }
}

void PumpFor(std::chrono::milliseconds Duration) {
  PumpUntil([] { return false; }, Duration);
}

}  // namespace pelicore::test
