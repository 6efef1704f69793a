#pragma once

#include <functional>

// Waits until the condition holds or the time is up, running the event loop
// meanwhile so windows stay responsive and timers keep firing. Returns the
// condition's final value. No fixed sleep: the loop wakes for every event and
// looks at the condition at least every few milliseconds.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
