// busprobe-cli's arguments, scripts and checks before the bus: what each command becomes and the
// message each wrong argument gets (the program exits 2 with it).
#include <gtest/gtest.h>

#include "canopen/Identifiers.h"
#include "cli/ArgParse.h"
#include "cli/Output.h"
#include "cli/Runner.h"
#include "od/ObjectDictionary.h"
#include "support/ErrorText.h"
#include "support/ObjectEntries.h"

namespace bp::cli {
namespace {

using test::errorOf;

Invocation parse(std::vector<std::string> args) { return parseArguments(args); }
std::string usageErrorOf(std::vector<std::string> args) {
  return errorOf<UsageError>([&] { parse(args); });
}

TEST(CliArguments, OptionsAnywhereCommandsInOrderEachWithItsArguments) {
  const Invocation inv =
      parse({"--demo", "read", "0x1018:2", "--json", "write", "6040", "u16", "0x0F", "--node=12", "nmt", "reset-comm",
             "all", "read", "2000:0x01", "i32", "--timeout", "40", "--continue"});
  EXPECT_TRUE(inv.demo);
  EXPECT_TRUE(inv.json);
  EXPECT_TRUE(inv.keepGoing);
  EXPECT_EQ(inv.node, 12);
  EXPECT_EQ(inv.timeoutMs, 40u);
  ASSERT_EQ(inv.commands.size(), 4u);
  const Command& read = inv.commands[0];
  EXPECT_EQ(read.kind, CommandKind::Read);
  EXPECT_EQ(read.object.index, 0x1018);
  EXPECT_EQ(read.object.subIndex, 2);
  EXPECT_FALSE(read.dataType);
  const Command& write = inv.commands[1];
  EXPECT_EQ(write.text, "write 6040 u16 0x0F");
  EXPECT_EQ(write.dataType, od::kUnsigned16);
  EXPECT_EQ(write.value, "0x0F");
  EXPECT_EQ(inv.commands[2].nmtCommand, canopen::kNmtResetCommunication);
  EXPECT_EQ(inv.commands[2].node, 0);
  EXPECT_EQ(inv.commands[3].object.subIndex, 1);
  EXPECT_EQ(inv.commands[3].dataType, od::kInteger32);
}

TEST(CliArguments, DefaultsAreTheWindowsAndOptionalWordsStayOptional) {
  const Invocation inv =
      parse({"write", "0x2000:1", "-5", "nmt", "start", "scan", "dump", "--frames", "3", "--decode"});
  EXPECT_FALSE(inv.demo);
  EXPECT_EQ(inv.channel, "");
  EXPECT_EQ(inv.node, 5);
  EXPECT_EQ(inv.timeoutMs, 250u);
  EXPECT_FALSE(inv.commands[0].dataType);
  EXPECT_EQ(inv.commands[0].value, "-5");
  EXPECT_FALSE(inv.commands[1].node);  // --node's
  EXPECT_FALSE(inv.commands[2].seconds);
  EXPECT_EQ(inv.commands[3].frames, 3u);
  EXPECT_TRUE(inv.commands[3].decode);
  EXPECT_EQ(parse({"--channel=vcan1", "scan", "--seconds", "0.5"}).commands[0].seconds, 0.5);
  EXPECT_EQ(parse({"--channel", "vcan1", "read", "1000"}).channel, "vcan1");
  EXPECT_EQ(parse({"--script", "a.txt"}).scriptAt, 0u);
  EXPECT_EQ(parse({"read", "1000", "--script", "a.txt", "read", "1001"}).scriptAt, 1u);
  // dcf-diff's B is a word that is no command and no option; dcf-restore's --save is optional.
  const Invocation dcf = parse({"dcf-diff", "a.dcf", "read", "1000", "dcf-diff", "a.dcf", "b.dcf", "dcf-restore",
                                "a.dcf", "--save", "dcf-restore", "b.dcf", "dcf-diff", "c.dcf", "--json"});
  EXPECT_EQ(dcf.commands[0].otherFile, "");
  EXPECT_EQ(dcf.commands[5].otherFile, "");
  EXPECT_TRUE(dcf.json);
  EXPECT_EQ(dcf.commands[2].otherFile, "b.dcf");
  EXPECT_TRUE(dcf.commands[3].save);
  EXPECT_FALSE(dcf.commands[4].save);
}

TEST(CliArguments, EachWrongArgumentIsNamed) {
  EXPECT_EQ(usageErrorOf({"read", "0x1G00"}), "index \"0x1G00\" is not a hexadecimal number");
  EXPECT_EQ(usageErrorOf({"read", "0x10000"}), "index \"0x10000\" is out of range (0x0000 to 0xFFFF)");
  EXPECT_EQ(usageErrorOf({"read", "1000:256"}), "sub-index \"256\" is out of range (0 to 255)");
  EXPECT_EQ(usageErrorOf({"read", "1000:x"}), "sub-index \"x\" is not a number");
  EXPECT_EQ(usageErrorOf({"raed", "1000"}), "unknown command \"raed\"");
  EXPECT_EQ(usageErrorOf({"--verbose"}), "unknown option \"--verbose\"");
  EXPECT_EQ(usageErrorOf({"write", "1000"}), "write 1000: missing argument; usage: write INDEX[:SUB] [TYPE] VALUE");
  EXPECT_EQ(usageErrorOf({"write"}), "write: missing argument; usage: write INDEX[:SUB] [TYPE] VALUE");
  EXPECT_EQ(usageErrorOf({"write", "2000:1", "u8", "256"}),
            "write 2000:1 u8 256: 256 is out of range for UNSIGNED8 (0 to 255)");
  EXPECT_EQ(usageErrorOf({"write", "2000:1", "i8", "0x1FF"}),
            "write 2000:1 i8 0x1FF: 0x1FF is out of range for INTEGER8 (0x0 to 0xFF)");
  EXPECT_EQ(usageErrorOf({"--node", "128", "read", "1000"}), "node \"128\" is out of range (1 to 127)");
  EXPECT_EQ(usageErrorOf({"nmt", "go"}), "nmt: unknown action \"go\" (start, stop, preop, reset, reset-comm)");
  EXPECT_EQ(usageErrorOf({"--timeout", "0", "read", "1000"}), "--timeout \"0\" is out of range (1 to 600000)");
  EXPECT_EQ(usageErrorOf({"dump", "--frames", "2", "--seconds", "1"}),
            "dump --frames 2 --seconds 1: --seconds and --frames exclude each other");
  EXPECT_EQ(usageErrorOf({"--demo", "--channel", "can0", "read", "1000"}), "--demo and --channel exclude each other");
}

TEST(CliScript, WordsQuotesCommentsAndTheLineOfAnError) {
  EXPECT_EQ(splitScriptLine("  write 2500 vs \"two words\"  # note"),
            (std::vector<std::string>{"write", "2500", "vs", "two words"}));
  EXPECT_EQ(splitScriptLine("write 2500 vs \"#1\""), (std::vector<std::string>{"write", "2500", "vs", "#1"}));
  const std::vector<Command> commands = parseScript("# set-up\r\nread 1000\n\nnmt start 7 read 1001\n", "s.txt");
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[1].node, 7);
  EXPECT_EQ(commands[2].object.index, 0x1001);
  EXPECT_EQ(errorOf<UsageError>([] { parseScript("read 1000\n\nread 1G\n", "s.txt"); }),
            "s.txt line 3: index \"1G\" is not a hexadecimal number");
  EXPECT_EQ(errorOf<UsageError>([] { parseScript("write 2500 vs \"open\n", "s.txt"); }),
            "s.txt line 1: a quote is not closed");
}

TEST(CliPrepare, TypesComeFromTheDictionaryAndAWriteNeedsOne) {
  od::ObjectDictionary dictionary;
  dictionary.AddObjectEntry(std::make_unique<od::ObjectEntry>(
      test::objectEntry(0x6040, 0, od::kUnsigned16, 0, od::kRead, "Controlword", od::kReadWrite)));
  const auto prepared =
      prepareCommands(parse({"write", "6040", "0x0F", "read", "6040", "read", "2000"}).commands, dictionary);
  EXPECT_EQ(prepared[0].bytes, std::string("\x0F\x00", 2));
  EXPECT_EQ(prepared[1].entry.nameText(), "Controlword");
  EXPECT_EQ(prepared[2].entry.dataType, od::kOctetString) << "an unknown object reads as bytes";
  EXPECT_EQ(errorOf<UsageError>([&] {
              prepareCommands(parse({"write", "6040", "70000"}).commands, dictionary);
            }),
            "write 6040 70000: 70000 is out of range for UNSIGNED16 (0 to 65535)");
  EXPECT_EQ(errorOf<UsageError>([&] {
              prepareCommands(parse({"write", "2000", "1"}).commands, dictionary);
            }),
            "write 2000 1: no type for 0x2000:00: give one (u8 ... b) or an EDS file that has the object");
}

TEST(CliOutput, JsonStringsEscapeWhatJsonMust) {
  EXPECT_EQ(jsonString("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u0001\"");
  EXPECT_EQ(jsonString("Gr\xC3\xB6\xC3\x9F"
                       "e"),
            "\"Gr\xC3\xB6\xC3\x9F"
            "e\"")
      << "UTF-8 stays";
  EXPECT_EQ(jsonString("Gr\xF6\xDF"
                       "e"),
            "\"Gr\\u00F6\\u00DFe\"")
      << "Latin-1 bytes become their characters";
  EXPECT_EQ(jsonObject({{"node", "5", true}, {"value", "1 (0x1)"}}), "{\"node\":5,\"value\":\"1 (0x1)\"}");
}

}  // namespace
}  // namespace bp::cli
