// Invariant checks shared by the fuzz targets: a broken invariant prints what broke and aborts,
// which libFuzzer reports as a crash and saves the input.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace bp::fuzz {

// Aborts with `what` (and `detail`, when given) unless `ok`. Any thread.
inline void check(bool ok, const char* what, std::string_view detail = {}) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s", what);
  if (!detail.empty()) std::fprintf(stderr, " [%.*s]", static_cast<int>(detail.size()), detail.data());
  std::fputc('\n', stderr);
  std::abort();
}

inline bool startsWith(std::string_view text, std::string_view prefix) noexcept {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace bp::fuzz
