#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/Error.h"

// busprobe-cli's command line as data: what ArgParse makes of the arguments and Runner carries out.
namespace bp::cli {

// Exit statuses of busprobe-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitTransferFailed = 1;  // an abort, a time-out, a refused send
inline constexpr int kExitUsage = 2;           // the arguments or an input file are wrong
inline constexpr int kExitNoBus = 3;           // no interface, or it would not open

// A usage or input error: its message names the argument ("index "0x1G00" is not a hexadecimal
// number"); the program prints it after "busprobe-cli: " and exits with kExitUsage.
class UsageError : public bp::Error {
 public:
  using bp::Error::Error;
};

enum class CommandKind : std::uint8_t { Read, Write, Upload, Download, Run, Nmt, Scan, Dump, DcfSave, DcfDiff, DcfRestore };

struct ObjectAddress {
  std::uint16_t index = 0;
  std::uint8_t subIndex = 0;
};

// One command, as typed. Fields beyond the kind's own stay at their defaults.
struct Command {
  CommandKind kind = CommandKind::Read;
  std::string text;                     // the command's words, for messages ("read 0x1000:0")
  ObjectAddress object;                 // read, write, upload, download
  std::optional<std::int8_t> dataType;  // read, write: the TYPE given (od::DataType code)
  std::string value;                    // write
  std::string file;                     // upload, download, run, dcf-save, dcf-diff A, dcf-restore
  std::string otherFile;                // dcf-diff B; empty: the node now
  bool save = false;                    // dcf-restore --save
  std::uint8_t nmtCommand = 0;          // nmt: canopen::kNmt... command specifier
  std::optional<std::int32_t> node;     // nmt: NODE (0: all); none: --node
  std::optional<double> seconds;        // scan, dump
  std::optional<std::uint64_t> frames;  // dump
  bool decode = false;                  // dump
};

inline constexpr std::int32_t kDefaultNode = 5;
inline constexpr std::uint32_t kDefaultTimeoutMs = 250;  // sdo::SdoClient::kTimeoutMs
inline constexpr double kDefaultScanSeconds = 1.0;

// The whole command line. Script commands (--script) are read by the program and inserted at
// scriptAt, where --script stood among the commands.
struct Invocation {
  std::string channel;
  bool demo = false;
  std::int32_t node = kDefaultNode;
  std::string eds;
  bool json = false;
  std::uint32_t timeoutMs = kDefaultTimeoutMs;
  bool keepGoing = false;  // --continue
  std::string script;
  std::size_t scriptAt = 0;
  bool help = false;
  bool version = false;
  std::vector<Command> commands;
};

}  // namespace bp::cli
