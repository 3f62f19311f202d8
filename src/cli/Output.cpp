#include "cli/Output.h"

#include "od/ValueText.h"
#include "util/Utf8.h"

namespace bp::cli {

std::string jsonString(std::string_view text) {
  const bool utf8 = utf8ToUtf16le(text).has_value();
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || (c >= 0x80 && !utf8)) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string jsonObject(const std::vector<Field>& fields) {
  std::string out = "{";
  for (const Field& f : fields) {
    if (out.size() > 1) out += ",";
    out += jsonString(f.key) + ":" + (f.number ? f.value : jsonString(f.value));
  }
  return out + "}";
}

std::string objectText(ObjectAddress object) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X:%02X", static_cast<unsigned>(object.index),
                static_cast<unsigned>(object.subIndex));
  return text;
}

std::string valueText(const od::ObjectEntry& entry) {
  std::string text = objectText({static_cast<std::uint16_t>(entry.index), static_cast<std::uint8_t>(entry.subIndex)});
  if (!entry.nameText().empty()) text += " " + std::string(entry.nameText());
  return text + " = " + od::FormatObjectValue(entry, '.');
}

void Printer::line(std::FILE* to, const std::string& text) const {
  std::fputs(text.c_str(), to);
  std::fputc('\n', to);
  std::fflush(to);  // a script reading the pipe sees each result when it is there
}

void Printer::result(const std::string& text, const std::vector<Field>& fields) const {
  line(m_out, m_json ? jsonObject(fields) : text);
}

void Printer::failure(const std::string& command, const std::string& message, std::vector<Field> fields) const {
  if (!m_json) {
    line(m_err, "busprobe-cli: " + command + ": " + message);
    return;
  }
  fields.push_back({"error", message});
  line(m_out, jsonObject(fields));
}

}  // namespace bp::cli
