#pragma once
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "can/CanDriver.h"
#include "can/CanFrame.h"
#include "canopen/Identifiers.h"

namespace bp::nmt {

// COB-ID bases of the four receive PDOs of the predefined connection set, by item of the PDO
// selector ("PDO1" .. "PDO4"); the node ID is added.
using canopen::kRpdoBase;
inline constexpr std::size_t kMaxPdoBytes = 8;

// The text of an attempt to send with no receive PDO selected.
inline constexpr const char* kNoRxPdoSelected = "No receive PDO selected";

// C-style integer with automatic base, independent of the locale: optional leading white space,
// optional sign, then "0x"/"0X" and hexadecimal digits, else a leading "0" and octal digits, else
// decimal digits. Stops at the first character that does not fit; no digits give 0; a value
// beyond the signed 32-bit range is held at the nearest limit. Any thread; never fails.
std::int32_t cStyleInteger(std::string_view token) noexcept;

// The tokens of a PDO data text, split at space, comma and semicolon; a run of separators counts
// as one and separators at either end give no token. The whole text is split, whatever its
// length. The views point into `text`, which must outlive them. Any thread.
std::vector<std::string_view> splitRxPdoTokens(std::string_view text);

// The receive PDO frame: identifier kRpdoBase[pdoItem] + node ID, data frame, one byte per token
// (the low 8 bits of cStyleInteger) for at most the first eight tokens, length = tokens taken.
// Throws bp::Error kNoRxPdoSelected when pdoItem is not 0 to 3 (nothing selected in the
// selector). Any thread.
can::CanFrame rxPdoFrame(std::string_view text, int pdoItem, std::int32_t nodeId);

// Window thread. Builds the frame above and writes it. A non-zero write result throws bp::Error
// "Error sending message, errorcode = <result>" (see can::sendErrorMessage); nothing is retried.
// A node ID outside 0 to 127 sends nothing.
void sendRxPdo(can::CanDriver& driver, std::string_view text, int pdoItem, std::int32_t nodeId);

}  // namespace bp::nmt
