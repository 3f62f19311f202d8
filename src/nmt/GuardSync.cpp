#include "nmt/GuardSync.h"

#include <limits>

#include "od/ValueText.h"

namespace bp::nmt {

std::int32_t periodFromText(std::string_view text, char decimalSep) {
  const double ms = od::realText(text, decimalSep);
  // Compare before converting: casting a double outside the int32 range is undefined.
  if (!(ms > 0.0)) return 0;  // negative, -0 and 0: no period
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  if (ms >= kMax) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(ms);  // truncates toward zero
}

}  // namespace bp::nmt
