#pragma once
// Waiting in tests for something that the event loop brings about: dispatch
// until a condition holds, with a deadline, instead of pumping a fixed number
// of times.

#include <chrono>
#include <functional>

namespace pelicore::test {

// Dispatches events until Condition() holds or Timeout has passed; returns
// Condition().
bool PumpUntil(const std::function<bool()>& Condition,
               std::chrono::milliseconds Timeout = std::chrono::milliseconds(5000));

// Dispatches events for the given time.
void PumpFor(std::chrono::milliseconds Duration);

}  // namespace pelicore::test
