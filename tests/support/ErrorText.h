#pragma once
#include <string>
#include <utility>

#include "util/Error.h"

namespace bp::test {

// Runs `action` and returns the message of the `E` it throws (bp::Error and EdsReadError by
// default; fileio::SystemError where named), or "" when it returns normally. Any other exception
// goes on to the test, which then fails.
template <class E = Error, class Action>
std::string errorOf(Action&& action) {
  try {
    std::forward<Action>(action)();
  } catch (const E& e) {
    return e.what();
  }
  return {};
}

}  // namespace bp::test
