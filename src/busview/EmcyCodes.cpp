// The emergency error codes and their texts: the generic groups of CiA 301 and the codes of
// CiA 402 drives as public code lists, drive firmware and drive manuals give them (a code no public
// source names is not listed). Add a code here and nowhere else.
#include "busview/EmcyCodes.h"

#include <array>

namespace bp::busview {
namespace {

constexpr std::uint16_t kOne = 0xFFFF;
constexpr std::uint16_t kGroup = 0xFF00;
constexpr std::uint16_t kClass = 0xF000;
constexpr bool k301 = false;
constexpr bool k402 = true;

constexpr EmcyCodeRow kRows[] = {
    // ---- CiA 301 ----
    {0x0000, kOne, k301, "Error reset"},
    {0x0000, kGroup, k301, "Error reset or no error"},
    {0x1000, kClass, k301, "Generic error"},
    {0x2000, kClass, k301, "Current"},
    {0x2100, kGroup, k301, "Current, device input side"},
    {0x2200, kGroup, k301, "Current inside the device"},
    {0x2300, kGroup, k301, "Current, device output side"},
    {0x3000, kClass, k301, "Voltage"},
    {0x3100, kGroup, k301, "Mains voltage"},
    {0x3200, kGroup, k301, "Voltage inside the device"},
    {0x3300, kGroup, k301, "Output voltage"},
    {0x4000, kClass, k301, "Temperature"},
    {0x4100, kGroup, k301, "Ambient temperature"},
    {0x4200, kGroup, k301, "Device temperature"},
    {0x5000, kClass, k301, "Device hardware"},
    {0x6000, kClass, k301, "Device software"},
    {0x6100, kGroup, k301, "Internal software"},
    {0x6200, kGroup, k301, "User software"},
    {0x6300, kGroup, k301, "Data set"},
    {0x7000, kClass, k301, "Additional modules"},
    {0x8000, kClass, k301, "Monitoring"},
    {0x8100, kGroup, k301, "Communication"},
    {0x8110, kOne, k301, "CAN overrun (objects lost)"},
    {0x8120, kOne, k301, "CAN in error passive mode"},
    {0x8130, kOne, k301, "Life guard error or heartbeat error"},
    {0x8140, kOne, k301, "Recovered from bus off"},
    {0x8150, kOne, k301, "CAN-ID collision"},
    {0x8200, kGroup, k301, "Protocol error"},
    {0x8210, kOne, k301, "PDO not processed due to length error"},
    {0x8220, kOne, k301, "PDO length exceeded"},
    {0x8230, kOne, k301, "DAM MPDO not processed, destination object not available"},
    {0x8240, kOne, k301, "Unexpected SYNC data length"},
    {0x8250, kOne, k301, "RPDO time-out"},
    {0x9000, kClass, k301, "External error"},
    {0xF000, kGroup, k301, "Additional functions"},
    {0xFF00, kGroup, k301, "Device specific"},
    // ---- CiA 402 drives ----
    {0x2220, kOne, k402, "Continuous over-current (device internal)"},
    {0x2310, kOne, k402, "Continuous over-current"},
    {0x2320, kOne, k402, "Short circuit/earth leakage"},
    {0x3130, kOne, k402, "Phase failure"},
    {0x3131, kOne, k402, "Phase failure L1"},
    {0x3132, kOne, k402, "Phase failure L2"},
    {0x3133, kOne, k402, "Phase failure L3"},
    {0x3210, kOne, k402, "DC link over-voltage"},
    {0x3220, kOne, k402, "DC link under-voltage"},
    {0x4210, kOne, k402, "Excess temperature device"},
    {0x4310, kOne, k402, "Excess temperature drive"},
    {0x6010, kOne, k402, "Software reset (watchdog)"},
    {0x7121, kOne, k402, "Motor blocked"},
    {0x7300, kGroup, k402, "Sensor"},
    {0x7305, kOne, k402, "Incremental sensor 1 fault"},
    {0x7310, kOne, k402, "Speed"},
    {0x7320, kOne, k402, "Position"},
    {0x7500, kGroup, k402, "Communication"},
    {0x8611, kOne, k402, "Following error"},
    {0x8A00, kGroup, k402, "Control"},
};

constexpr std::array<std::string_view, 8> kRegisterBits{
    "generic",       "current",  "voltage", "temperature", "communication",
    "device profile specific", "reserved", "manufacturer specific"};

// The most specific row of the chosen standard that matches `code`, or "".
std::string_view mostSpecific(std::uint16_t code, bool drive) noexcept {
  for (const std::uint16_t mask : {kOne, kGroup, kClass})
    for (const EmcyCodeRow& row : kRows)
      if (row.drive == drive && row.mask == mask && (code & mask) == row.code) return row.text;
  return {};
}

}  // namespace

std::span<const EmcyCodeRow> emcyCodeTable() noexcept { return kRows; }

EmcyCodeText lookUpEmcyCode(std::uint16_t code, bool cia402Drive) noexcept {
  return {mostSpecific(code, false), cia402Drive ? mostSpecific(code, true) : std::string_view{}};
}

std::string_view errorRegisterBitName(int bit) noexcept {
  return bit >= 0 && bit < 8 ? kRegisterBits[static_cast<std::size_t>(bit)] : std::string_view{};
}

std::string errorRegisterText(std::uint8_t errorRegister) {
  if (errorRegister == 0) return "none";
  std::string text;
  for (int bit = 0; bit < 8; ++bit) {
    if ((errorRegister & (1u << bit)) == 0) continue;
    if (!text.empty()) text += ", ";
    text += errorRegisterBitName(bit);
  }
  return text;
}

}  // namespace bp::busview
