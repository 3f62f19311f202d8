#pragma once
#include <atomic>
#include <cstdint>

#include "util/Clock.h"

namespace bp::test {

// A clock the test moves by hand; optionally advances by `step` on every read.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::uint32_t start = 0, std::uint32_t step = 0) : m_now(start), m_step(step) {}
  std::uint32_t tickMs() noexcept override { return m_now.fetch_add(m_step) ; }
  void advance(std::uint32_t ms) noexcept { m_now.fetch_add(ms); }
  void set(std::uint32_t ms) noexcept { m_now.store(ms); }
  void setStep(std::uint32_t step) noexcept { m_step.store(step); }

 private:
  std::atomic<std::uint32_t> m_now;
  std::atomic<std::uint32_t> m_step;
};

}  // namespace bp::test
