#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "od/ObjectEntry.h"

// What busprobe-cli prints: a line of text per result, or with --json one JSON object a line.
namespace bp::cli {

// One member of a JSON result line; `number` members are written without quotes.
struct Field {
  std::string key;
  std::string value;
  bool number = false;
};

// The text as a JSON string, quotes included. A text that is not UTF-8 (EDS names are taken as
// they are) has its bytes from 0x80 up written as the Latin-1 characters \u0080 to \u00FF.
std::string jsonString(std::string_view text);
// {"key":value,...} in the fields' order.
std::string jsonObject(const std::vector<Field>& fields);

// "0x1018:01".
std::string objectText(ObjectAddress object);
// "0x1018:01 Vendor-ID = 837 (0x00000345)": the value by od::FormatObjectValue, as the window
// shows it; without a name "0x1018:01 = ...".
std::string valueText(const od::ObjectEntry& entry);

class Printer {
 public:
  Printer(bool json, std::FILE* out, std::FILE* err) noexcept : m_json(json), m_out(out), m_err(err) {}

  // A result: `text` on standard output, or the fields as one JSON object.
  void result(const std::string& text, const std::vector<Field>& fields) const;
  // A failed command: "busprobe-cli: <command>: <message>" on standard error, or the fields with
  // "error": message as one JSON object on standard output.
  void failure(const std::string& command, const std::string& message, std::vector<Field> fields) const;
  bool json() const noexcept { return m_json; }

 private:
  void line(std::FILE* to, const std::string& text) const;

  bool m_json;
  std::FILE* m_out;
  std::FILE* m_err;
};

}  // namespace bp::cli
