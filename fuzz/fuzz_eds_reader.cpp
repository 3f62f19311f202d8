// Fuzz target: the EDS reader on the bytes of a whole file, read with '.' and with ',' as the
// decimal separator.
//
// Invariants: only od::EdsReadError escapes, naming a line of the file (line 1 for a file without
// lines); every record has a name of at most 299 bytes and a default text of at most 255, each
// with its terminator, a text value of at most 500 bytes (the octets of a 1000-character value),
// and an access code 0 to 2;
// the dictionary's chains hold every record exactly once, each chain one index; the tree captions
// of every record can be made.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "FuzzCheck.h"
#include "od/EdsReader.h"
#include "od/ObjectDictionary.h"
#include "od/ValueText.h"

namespace {

using bp::fuzz::check;

void checkDictionary(const bp::od::ObjectDictionary& dictionary, char sep) {
  std::unordered_set<const bp::od::ObjectEntry*> seen;
  std::unordered_set<std::int32_t> indices;
  for (const bp::od::ObjectEntry* head : dictionary.heads()) {
    check(head != nullptr, "null head");
    check(indices.insert(head->index).second, "an index listed twice");
    for (const bp::od::ObjectEntry* e = head; e != nullptr; e = e->next) {
      check(seen.insert(e).second, "a record reached twice (chain loop or shared record)");
      check(e->index == head->index, "a chain mixes indices");
      check(seen.size() <= dictionary.recordCount(), "more records in chains than owned");

      const std::string_view name = e->nameText();
      const std::string_view defText = e->defaultTextView();
      check(name.size() <= 299 && e->name[bp::od::kNameSize - 1] == '\0', "name does not fit");
      check(defText.size() <= 255 && e->defaultText[bp::od::kDefaultTextSize - 1] == '\0',
            "default text does not fit");
      check(e->textValue.size() <= 500, "text value too long", e->textValue);
      check(e->access <= bp::od::kReadWrite, "access code out of range");
      check(e->direction == bp::od::kRead, "a record read from a file is a write entry");

      const std::string caption = bp::od::FormatNodeCaption(*e, sep);
      check(!caption.empty(), "empty caption");
    }
  }
  check(seen.size() == dictionary.recordCount(), "a record in no chain");
}

void readWith(std::string_view bytes, char sep) {
  bp::od::ObjectDictionary dictionary;
  try {
    bp::od::ReadEDSText(bytes, dictionary, sep, sep == '.' ? 1 : 127);
  } catch (const bp::od::EdsReadError& e) {
    const std::size_t lines = bp::od::splitEdsLines(bytes).size();
    check(e.line() >= 1 && static_cast<std::size_t>(e.line()) <= (lines == 0 ? 1 : lines),
          "error line outside the file", e.what());
    check(std::string_view(e.what()) == "Error reading EDS File\nLine: " + std::to_string(e.line()),
          "EDS error message", e.what());
    check(lines != 0 || dictionary.recordCount() == 0, "records from a file without lines");
  }
  checkDictionary(dictionary, sep);
  dictionary.ClearObjectDictionary();
  check(dictionary.recordCount() == 0 && dictionary.heads().empty(), "clear left records");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Line splitting: the views cover the file in order and hold no line break.
  std::size_t covered = 0;
  for (std::string_view line : bp::od::splitEdsLines(bytes)) {
    check(line.find_first_of("\r\n") == std::string_view::npos, "a line holds a line break");
    check(line.data() >= bytes.data() + covered && line.data() + line.size() <= bytes.data() + size,
          "a line outside the file or out of order");
    covered = static_cast<std::size_t>(line.data() + line.size() - bytes.data());
  }

  readWith(bytes, '.');
  readWith(bytes, ',');
  return 0;
}
