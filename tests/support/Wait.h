#pragma once
#include <chrono>
#include <thread>

namespace bp::test {

// Polls `done` every `pause` until it holds or `limit` has passed; true when it held. For waits on
// another thread: it ends as soon as the condition is met, so the limit only bounds a failure.
template <class Pred>
bool waitUntil(Pred&& done, std::chrono::milliseconds limit,
               std::chrono::microseconds pause = std::chrono::microseconds(1000)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(pause);
  }
  return true;
}

}  // namespace bp::test
