#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bp::sdo {

// One row of the abort message table: an SDO abort code and the text shown for it ("\n" in a text
// is a line break of the message).
struct AbortMessage {
  std::uint32_t code;
  std::string_view text;
};

inline constexpr std::size_t kAbortMessageCount = 29;

// The abort message table, in its search order. Static storage; any thread.
extern const AbortMessage kAbortMessages[kAbortMessageCount];

// The text of the first row whose code equals `code`, or "Unknown error". The view refers to
// static storage. Any thread; never fails.
std::string_view lookUpAbortMessage(std::uint32_t code) noexcept;

// The message of a transfer the node aborted: "SDO Tranfer Abort : 0x%08X", a line break and the
// code's text. Any thread.
std::string abortText(std::uint32_t code);

// The message of a transfer the node did not answer in time: "SDO Transfer timeout", the object's
// name on a line of its own when there is one to name, and "<index> subindex <sub>" in decimal.
std::string timeoutText(std::optional<std::string_view> name, long index, long subIndex);

}  // namespace bp::sdo
