#include "util/FileIo.h"

#include <utility>

namespace bp::fileio {

File::File(File&& other) noexcept : m_handle(std::exchange(other.m_handle, kNone)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    File old(std::exchange(m_handle, std::exchange(other.m_handle, kNone)));
  }
  return *this;
}

}  // namespace bp::fileio
