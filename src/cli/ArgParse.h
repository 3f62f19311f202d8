#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"

// busprobe-cli's arguments and script files into commands. Pure: no files, no bus; every error
// throws UsageError with a message naming the argument.
namespace bp::cli {

// The program's arguments (without the program name): options anywhere, commands in order.
Invocation parseArguments(const std::vector<std::string>& args);

// The commands of a script's text: one command a line, words split at blanks, "..." quotes a
// word with blanks in it, "#" outside quotes starts a comment, empty lines are skipped. Errors
// name the script and the line: "run.txt line 3: unknown command "raed"".
std::vector<Command> parseScript(std::string_view text, const std::string& scriptName);

// The words of one script line (see parseScript).
std::vector<std::string> splitScriptLine(std::string_view line);

// The parts of a command, for the commands and their tests.
ObjectAddress parseObject(std::string_view text);                      // INDEX[:SUB]: INDEX hex, SUB decimal or 0x hex
std::int32_t parseNodeId(std::string_view text, std::int32_t lowest);  // lowest..127

// The --help text (packaging/man/busprobe-cli.1 follows it) and the --version line.
std::string helpText();
std::string versionText();

}  // namespace bp::cli
