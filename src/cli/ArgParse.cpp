#include "cli/ArgParse.h"

#include <algorithm>

#include <cctype>

#include "canopen/Identifiers.h"
#include "channel/Options.h"
#include "cli/DataTypes.h"
#include "od/EdsReader.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"

namespace bp::cli {
namespace {

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

bool isHexDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
  return true;
}

// A whole number of `what` (decimal, or hexadecimal after 0x) from lowest to highest.
std::int64_t parseNumber(std::string_view text, std::string_view what, std::int64_t lowest, std::int64_t highest) {
  od::IntegerParts parts;
  if (!od::tryIntegerParts(text, parts) || parts.beyond64 || (parts.negative && parts.magnitude != 0))
    throw UsageError(std::string(what) + " " + quoted(text) + " is not a number");
  if (parts.magnitude < static_cast<std::uint64_t>(lowest) || parts.magnitude > static_cast<std::uint64_t>(highest))
    throw UsageError(std::string(what) + " " + quoted(text) + " is out of range (" + std::to_string(lowest) + " to " +
                     std::to_string(highest) + ")");
  return static_cast<std::int64_t>(parts.magnitude);
}

double parseSeconds(std::string_view text) {
  double s = 0;
  if (!od::tryRealText(text, '.', s) || !(s > 0) || s > 1e6)
    throw UsageError("seconds " + quoted(text) + " is not a positive number of seconds");
  return s;
}

// Reads one command's words from args[at] on; `at` ends on the command's last word.
class CommandReader {
 public:
  CommandReader(const std::vector<std::string>& words, std::size_t& at) : m_words(words), m_at(at) {}

  Command read() {
    const std::string& word = m_words[m_at];
    m_command.text = word;
    if (word == "read") return readObject(CommandKind::Read, "read INDEX[:SUB] [TYPE]");
    if (word == "write") return writeObject();
    if (word == "upload") return fileCommand(CommandKind::Upload, true);
    if (word == "download") return fileCommand(CommandKind::Download, true);
    if (word == "run") return fileCommand(CommandKind::Run, false);
    if (word == "nmt") return nmt();
    if (word == "scan") return scanOrDump(CommandKind::Scan);
    if (word == "dump") return scanOrDump(CommandKind::Dump);
    if (word == "dcf-save" || word == "dcf-diff" || word == "dcf-restore") return dcf(word);
    throw UsageError("unknown command " + quoted(word));
  }

 private:
  bool hasNext() const { return m_at + 1 < m_words.size(); }
  const std::string* peek() const { return hasNext() ? &m_words[m_at + 1] : nullptr; }
  const std::string& take(const char* usage) {
    if (!hasNext()) throw UsageError(m_command.text + ": missing argument; usage: " + usage);
    const std::string& w = m_words[++m_at];
    m_command.text += " " + w;
    return w;
  }
  bool takeIf(std::string_view word) {
    if (peek() == nullptr || *peek() != word) return false;
    take("");
    return true;
  }

  Command readObject(CommandKind kind, const char* usage) {
    m_command.kind = kind;
    m_command.object = parseObject(take(usage));
    if (const std::string* next = peek(); next != nullptr && dataTypeOfWord(*next))
      m_command.dataType = dataTypeOfWord(take(""));
    return m_command;
  }

  Command writeObject() {
    const char* usage = "write INDEX[:SUB] [TYPE] VALUE";
    readObject(CommandKind::Write, usage);
    m_command.value = take(usage);
    if (m_command.dataType) {
      try {
        od::typedBytes(*m_command.dataType, m_command.value, '.');
      } catch (const bp::Error& e) {
        throw UsageError(m_command.text + ": " + e.what());
      }
    }
    return m_command;
  }

  Command fileCommand(CommandKind kind, bool withObject) {
    m_command.kind = kind;
    const char* usage = kind == CommandKind::Upload     ? "upload INDEX[:SUB] FILE"
                        : kind == CommandKind::Download ? "download INDEX[:SUB] FILE"
                                                        : "run LISTFILE";
    if (withObject) m_command.object = parseObject(take(usage));
    m_command.file = take(usage);
    return m_command;
  }

  Command nmt();
  Command scanOrDump(CommandKind kind);

  // dcf-save FILE, dcf-diff A [B] (B: a word that is no command and no option), dcf-restore FILE
  // [--save].
  Command dcf(const std::string& word) {
    static constexpr std::string_view kCommands[] = {"read", "write", "upload", "download", "run", "nmt",
                                                     "scan", "dump", "dcf-save", "dcf-diff", "dcf-restore"};
    const bool save = word == "dcf-save", diff = word == "dcf-diff";
    m_command.kind = save ? CommandKind::DcfSave : diff ? CommandKind::DcfDiff : CommandKind::DcfRestore;
    m_command.file = take(save ? "dcf-save FILE" : diff ? "dcf-diff A [B]" : "dcf-restore FILE [--save]");
    const std::string* next = peek();
    if (diff && next != nullptr && !next->starts_with("-") &&
        std::find(std::begin(kCommands), std::end(kCommands), *next) == std::end(kCommands))
      m_command.otherFile = take("");
    if (!save && !diff) m_command.save = takeIf("--save");
    return m_command;
  }

  const std::vector<std::string>& m_words;
  std::size_t& m_at;
  Command m_command;
};

Command CommandReader::nmt() {
  struct Action {
    std::string_view word;
    std::uint8_t command;
  };
  static constexpr Action kActions[] = {{"start", canopen::kNmtStart},
                                        {"stop", canopen::kNmtStop},
                                        {"preop", canopen::kNmtPreOperational},
                                        {"reset", canopen::kNmtResetNode},
                                        {"reset-comm", canopen::kNmtResetCommunication}};
  m_command.kind = CommandKind::Nmt;
  const std::string& word = take("nmt start|stop|preop|reset|reset-comm [NODE|all]");
  const Action* found = nullptr;
  for (const Action& a : kActions)
    if (a.word == word) found = &a;
  if (found == nullptr)
    throw UsageError("nmt: unknown action " + quoted(word) + " (start, stop, preop, reset, reset-comm)");
  m_command.nmtCommand = found->command;
  if (takeIf("all")) {
    m_command.node = 0;
  } else if (const std::string* next = peek();
             next != nullptr && !next->empty() && std::isdigit(static_cast<unsigned char>((*next)[0]))) {
    m_command.node = parseNodeId(take(""), 1);
  }
  return m_command;
}

Command CommandReader::scanOrDump(CommandKind kind) {
  m_command.kind = kind;
  const char* usage = kind == CommandKind::Scan ? "scan [--seconds S]" : "dump [--seconds S | --frames N] [--decode]";
  for (;;) {
    if (takeIf("--seconds")) {
      m_command.seconds = parseSeconds(take(usage));
    } else if (kind == CommandKind::Dump && takeIf("--frames")) {
      m_command.frames = static_cast<std::uint64_t>(parseNumber(take(usage), "frames", 1, 1'000'000'000));
    } else if (kind == CommandKind::Dump && takeIf("--decode")) {
      m_command.decode = true;
    } else {
      break;
    }
  }
  if (m_command.seconds && m_command.frames)
    throw UsageError(m_command.text + ": --seconds and --frames exclude each other");
  return m_command;
}

// The value of an option given as "--name VALUE" or "--name=VALUE".
std::string optionValue(const std::vector<std::string>& args, std::size_t& i, std::string_view name) {
  const std::string& arg = args[i];
  if (arg.size() > name.size() && arg[name.size()] == '=') return arg.substr(name.size() + 1);
  if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
  return args[++i];
}

bool isOption(const std::string& arg, std::string_view name) {
  return arg == name || (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=');
}

// One global option at args[i]; false when args[i] is none.
bool readOption(const std::vector<std::string>& args, std::size_t& i, Invocation& inv,
                std::vector<std::string>& channelArgs) {
  const std::string& a = args[i];
  if (a == "--demo") {
    channelArgs.push_back(a);
  } else if (isOption(a, "--channel")) {
    channelArgs.push_back("--channel=" + optionValue(args, i, "--channel"));
  } else if (isOption(a, "--node")) {
    inv.node = parseNodeId(optionValue(args, i, "--node"), 1);
  } else if (isOption(a, "--eds")) {
    inv.eds = optionValue(args, i, "--eds");
  } else if (isOption(a, "--timeout")) {
    inv.timeoutMs = static_cast<std::uint32_t>(parseNumber(optionValue(args, i, "--timeout"), "--timeout", 1, 600'000));
  } else if (isOption(a, "--script")) {
    inv.script = optionValue(args, i, "--script");
    inv.scriptAt = inv.commands.size();
  } else if (a == "--json") {
    inv.json = true;
  } else if (a == "--continue") {
    inv.keepGoing = true;
  } else if (a == "--help" || a == "-h") {
    inv.help = true;
  } else if (a == "--version") {
    inv.version = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace

ObjectAddress parseObject(std::string_view text) {
  const std::size_t colon = text.find(':');
  std::string_view index = text.substr(0, colon);
  if (index.size() > 2 && index[0] == '0' && (index[1] == 'x' || index[1] == 'X')) index.remove_prefix(2);
  if (!isHexDigits(index)) throw UsageError("index " + quoted(text.substr(0, colon)) + " is not a hexadecimal number");
  const std::size_t start = index.find_first_not_of('0');
  if (start != std::string_view::npos && index.size() - start > 4)
    throw UsageError("index " + quoted(text.substr(0, colon)) + " is out of range (0x0000 to 0xFFFF)");
  ObjectAddress a;
  a.index = static_cast<std::uint16_t>(std::stoul(std::string(index), nullptr, 16));
  if (colon != std::string_view::npos)
    a.subIndex = static_cast<std::uint8_t>(parseNumber(text.substr(colon + 1), "sub-index", 0, 255));
  return a;
}

std::int32_t parseNodeId(std::string_view text, std::int32_t lowest) {
  return static_cast<std::int32_t>(parseNumber(text, "node", lowest, canopen::kMaxNodeId));
}

Invocation parseArguments(const std::vector<std::string>& args) {
  Invocation inv;
  std::vector<std::string> channelArgs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (readOption(args, i, inv, channelArgs)) continue;
    if (args[i].size() > 1 && args[i][0] == '-') throw UsageError("unknown option " + quoted(args[i]));
    inv.commands.push_back(CommandReader(args, i).read());
  }
  // --demo and --channel as the window takes them: the same checks and messages.
  const channel::Options channelOptions = channel::parseOptions(channelArgs);
  if (!channelOptions.error.empty()) throw UsageError(channelOptions.error);
  inv.demo = channelOptions.demo;
  inv.channel = channelOptions.channel;
  return inv;
}

std::vector<std::string> splitScriptLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, inQuotes = false;
  for (char c : line) {
    if (inQuotes) {
      if (c == '"')
        inQuotes = false;
      else
        word += c;
    } else if (c == '"') {
      inQuotes = inWord = true;
    } else if (c == '#') {
      break;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inQuotes) throw UsageError("a quote is not closed");
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::vector<Command> parseScript(std::string_view text, const std::string& scriptName) {
  std::vector<Command> commands;
  int lineNumber = 0;
  for (std::string_view line : od::splitEdsLines(text)) {
    ++lineNumber;
    try {
      const std::vector<std::string> words = splitScriptLine(line);
      for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].size() > 1 && words[i][0] == '-') throw UsageError("unknown option " + quoted(words[i]));
        commands.push_back(CommandReader(words, i).read());
      }
    } catch (const UsageError& e) {
      throw UsageError(scriptName + " line " + std::to_string(lineNumber) + ": " + e.what());
    }
  }
  return commands;
}

}  // namespace bp::cli
