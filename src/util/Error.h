#pragma once
#include <stdexcept>
#include <string>

namespace bp {

// An error that carries exactly one message text, shown to the user as it stands.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace bp
