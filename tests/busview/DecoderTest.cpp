// The Bus view's decoder: every service by identifier, frames in can-utils notation; SDO transfers
// (segments, block transfers, aborts) and node guarding as sequences through one decoder; the EMCY
// code table and its look-up.
#include "busview/Decoder.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <utility>

#include "busview/EmcyCodes.h"
#include "support/FrameText.h"

namespace bp::busview {
namespace {

struct Step {
  const char* frame;
  Service service;
  const char* text;
};

// Decodes the steps in order through one decoder, as they would follow each other on the bus.
void expectSequence(std::initializer_list<Step> steps) {
  Decoder decoder;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.frame);
    const can::CanFrame f = test::frame(s.frame);
    const Decoded d = decoder.decode(f);
    EXPECT_EQ(serviceName(d.service), serviceName(s.service));
    EXPECT_EQ(describe(d, f), s.text);
  }
}

TEST(Decoder, EveryServiceOnItsOwn) {
  constexpr Step kFrames[] = {
      {"000#0105", Service::Nmt, "NMT Start node 5"},
      {"000#0200", Service::Nmt, "NMT Stop all nodes"},
      {"000#807F", Service::Nmt, "NMT Pre-operational node 127"},
      {"000#8105", Service::Nmt, "NMT Reset application node 5"},
      {"000#8200", Service::Nmt, "NMT Reset communication all nodes"},
      {"000#0705", Service::Nmt, "NMT command 0x07 node 5"},
      {"000#01", Service::Nmt, "NMT, length 1 (2 expected)"},
      {"080#", Service::Sync, "SYNC"},
      {"080#07", Service::Sync, "SYNC counter 7"},
      {"100#952CB3024E39", Service::Time, "TIME 2024-03-01 12:34:56.789"},
      {"100#000000000000", Service::Time, "TIME 1984-01-01 00:00:00.000"},
      {"100#FFFFFFFF0000", Service::Time, "TIME day 0, 268435455 ms (more than a day)"},
      {"100#00", Service::Time, "TIME, length 1 (6 expected)"},
      {"185#0102", Service::Tpdo, "TPDO1 node 5"},
      {"2FF#", Service::Tpdo, "TPDO2 node 127"},
      {"385#R", Service::Tpdo, "TPDO3 node 5, remote request"},
      {"481#", Service::Tpdo, "TPDO4 node 1"},
      {"205#0F00", Service::Rpdo, "RPDO1 node 5"},
      {"57F#", Service::Rpdo, "RPDO4 node 127"},
      {"705#00", Service::BootUp, "Boot-up node 5"},
      {"705#04", Service::Heartbeat, "Heartbeat node 5: Stopped"},
      {"705#05", Service::Heartbeat, "Heartbeat node 5: Operational"},
      {"77F#7F", Service::Heartbeat, "Heartbeat node 127: Pre-operational"},
      {"705#12", Service::Heartbeat, "Heartbeat node 5: state 18"},
      {"705#", Service::Heartbeat, "Heartbeat node 5, no data"},
      {"705#R", Service::GuardRequest, "Guarding request node 5"},
      {"705#85", Service::GuardAnswer, "Guarding answer node 5: Operational, toggle 1"},
      {"7E5#0401", Service::LssRequest, "LSS request: Switch state global"},
      {"7E5#1105", Service::LssRequest, "LSS request: Configure node-ID 5"},
      {"7E5#4C", Service::LssRequest, "LSS request: Identify non-configured remote slave"},
      {"7E4#5E05", Service::LssAnswer, "LSS answer: Inquire node-ID 5"},
      {"7E4#99", Service::LssAnswer, "LSS answer: command 0x99"},
      // Node 0 has no services but NMT; neither have the gaps of the connection set.
      {"180#00", Service::Unknown, "unknown"},
      {"700#R", Service::Unknown, "unknown"},
      {"17F#00", Service::Unknown, "unknown"},
      {"685#00", Service::Unknown, "unknown"},
      {"7E6#00", Service::Unknown, "unknown"},
      {"000#R", Service::Unknown, "unknown"},
      {"585#R", Service::Unknown, "unknown"},
  };
  for (const Step& s : kFrames) expectSequence({s});
}

TEST(Decoder, NodeAndPdoNumber) {
  Decoder decoder;
  const std::pair<const char*, Decoded> kCases[] = {
      {"000#0105", {Service::Nmt, 5, 0, SdoCommand::None}},
      {"000#0100", {Service::Nmt, 0, 0, SdoCommand::None}},
      {"080#", {Service::Sync, 0, 0, SdoCommand::None}},
      {"0FF#", {Service::Emcy, 127, 0, SdoCommand::None}},
      {"4A0#", {Service::Tpdo, 0x20, 4, SdoCommand::None}},
      {"320#", {Service::Rpdo, 0x20, 2, SdoCommand::None}},
      {"620#4000100000000000", {Service::SdoRequest, 0x20, 0, SdoCommand::UploadInitiate}},
  };
  for (const auto& [text, want] : kCases) {
    SCOPED_TRACE(text);
    const Decoded d = decoder.decode(test::frame(text));
    EXPECT_EQ(d.service, want.service);
    EXPECT_EQ(d.node, want.node);
    EXPECT_EQ(d.pdoNumber, want.pdoNumber);
    EXPECT_EQ(d.sdo, want.sdo);
  }
  can::CanFrame extended = test::frame("185#00");
  extended.type = can::kMsgExtended;
  EXPECT_EQ(decoder.decode(extended).service, Service::Unknown);
}

TEST(Decoder, SdoExpeditedSegmentedAbortAndMalformed) {
  expectSequence({
      {"605#2B40600006000000", Service::SdoRequest,
       "SDO request node 5: initiate download 0x6040 sub 0, 2 bytes: 06 00"},
      {"585#6040600000000000", Service::SdoAnswer, "SDO answer node 5: initiate download 0x6040 sub 0"},
      {"605#4041600000000000", Service::SdoRequest, "SDO request node 5: initiate upload 0x6041 sub 0"},
      {"585#4B41600037060000", Service::SdoAnswer,
       "SDO answer node 5: initiate upload 0x6041 sub 0, 2 bytes: 37 06"},
      {"585#41002500E8030000", Service::SdoAnswer,
       "SDO answer node 5: initiate upload 0x2500 sub 0, size 1000"},
      {"605#6000000000000000", Service::SdoRequest, "SDO request node 5: upload segment, toggle 0"},
      {"585#1041424344454647", Service::SdoAnswer,
       "SDO answer node 5: upload segment, toggle 1, 7 bytes: 41 42 43 44 45 46 47"},
      {"585#0B41420000000000", Service::SdoAnswer,
       "SDO answer node 5: upload segment, toggle 0, 2 bytes: 41 42, last"},
      {"605#2100250014000000", Service::SdoRequest,
       "SDO request node 5: initiate download 0x2500 sub 0, size 20"},
      {"605#0041424344454647", Service::SdoRequest,
       "SDO request node 5: download segment, toggle 0, 7 bytes: 41 42 43 44 45 46 47"},
      {"585#3000000000000000", Service::SdoAnswer, "SDO answer node 5: download segment, toggle 1"},
      {"585#8000200000000206", Service::SdoAnswer,
       "SDO answer node 5: abort 0x2000 sub 0, 0x06020000 Object does not exist in the object "
       "dictionary."},
      {"605#8000160142000406", Service::SdoRequest,
       "SDO request node 5: abort 0x1600 sub 1, 0x06040042 The number and length of the objects "
       "to be mapped would exceed PDO length."},
      {"605#8000000078563412", Service::SdoRequest,
       "SDO request node 5: abort 0x0000 sub 0, 0x12345678 Unknown error"},
      {"605#E000000000000000", Service::SdoRequest, "SDO request node 5: command 0xE0 not valid"},
      {"585#E300000000000000", Service::SdoAnswer, "SDO answer node 5: command 0xE3 not valid"},
      {"605#40416000", Service::SdoRequest,
       "SDO request node 5: initiate upload 0x6041 sub 0 (length 4)"},
  });
}

// 27 bytes in two sub-blocks of up to 3 segments; node 6 talks in between. Byte 0x81 of the last
// segment would be an abort outside the transfer, and 0xC5 of the end a segment inside it.
TEST(Decoder, SdoBlockDownload) {
  expectSequence({
      {"605#C63025001B000000", Service::SdoRequest,
       "SDO request node 5: block download initiate 0x2530 sub 0, size 27, CRC"},
      {"585#A430250003000000", Service::SdoAnswer,
       "SDO answer node 5: block download initiate 0x2530 sub 0, block size 3, CRC"},
      {"605#0101020304050607", Service::SdoRequest,
       "SDO request node 5: block download segment 1: 01 02 03 04 05 06 07"},
      {"606#6000000000000000", Service::SdoRequest, "SDO request node 6: upload segment, toggle 0"},
      {"605#0208090A0B0C0D0E", Service::SdoRequest,
       "SDO request node 5: block download segment 2: 08 09 0A 0B 0C 0D 0E"},
      {"605#030F101112131415", Service::SdoRequest,
       "SDO request node 5: block download segment 3: 0F 10 11 12 13 14 15"},
      {"585#A203030000000000", Service::SdoAnswer,
       "SDO answer node 5: block download acknowledge 3, next block size 3"},
      {"605#81161718191A1B00", Service::SdoRequest,
       "SDO request node 5: block download segment 1 (last): 16 17 18 19 1A 1B 00"},
      {"585#A201030000000000", Service::SdoAnswer,
       "SDO answer node 5: block download acknowledge 1, next block size 3"},
      {"605#C534120000000000", Service::SdoRequest,
       "SDO request node 5: block download end, unused in last segment: 1, CRC 0x1234"},
      {"585#A100000000000000", Service::SdoAnswer, "SDO answer node 5: block download end"},
      {"605#8100000000000000", Service::SdoRequest,
       "SDO request node 5: abort 0x0000 sub 0, 0x00000000 Unknown error"},
  });
}

// Ten bytes in one sub-block; the client acknowledges only segment 1, so segment 2 comes again.
TEST(Decoder, SdoBlockUploadWithRepeatedSegment) {
  expectSequence({
      {"605#A43025007F000000", Service::SdoRequest,
       "SDO request node 5: block upload initiate 0x2530 sub 0, block size 127, switch threshold 0, CRC"},
      {"585#C63025000A000000", Service::SdoAnswer,
       "SDO answer node 5: block upload initiate 0x2530 sub 0, size 10, CRC"},
      {"605#A300000000000000", Service::SdoRequest, "SDO request node 5: block upload start"},
      {"585#0130313233343536", Service::SdoAnswer,
       "SDO answer node 5: block upload segment 1: 30 31 32 33 34 35 36"},
      {"585#8237383900000000", Service::SdoAnswer,
       "SDO answer node 5: block upload segment 2 (last): 37 38 39 00 00 00 00"},
      {"605#A2017F0000000000", Service::SdoRequest,
       "SDO request node 5: block upload acknowledge 1, next block size 127"},
      {"585#8237383900000000", Service::SdoAnswer,
       "SDO answer node 5: block upload segment 2 (last): 37 38 39 00 00 00 00"},
      {"605#A2027F0000000000", Service::SdoRequest,
       "SDO request node 5: block upload acknowledge 2, next block size 127"},
      {"585#D1CDAB0000000000", Service::SdoAnswer,
       "SDO answer node 5: block upload end, unused in last segment: 4, CRC 0xABCD"},
      {"605#A100000000000000", Service::SdoRequest, "SDO request node 5: block upload end"},
  });
}

// An abort ends a block transfer: what follows has a command byte again.
TEST(Decoder, SdoAbortEndsABlockTransfer) {
  expectSequence({
      {"605#A03025007F000000", Service::SdoRequest,
       "SDO request node 5: block upload initiate 0x2530 sub 0, block size 127, switch threshold 0"},
      {"585#C030250000000000", Service::SdoAnswer, "SDO answer node 5: block upload initiate 0x2530 sub 0"},
      {"605#A300000000000000", Service::SdoRequest, "SDO request node 5: block upload start"},
      {"585#8030250004000405", Service::SdoAnswer,
       "SDO answer node 5: abort 0x2530 sub 0, 0x05040004 CRC error (block mode only)."},
      {"585#0B41420000000000", Service::SdoAnswer,
       "SDO answer node 5: upload segment, toggle 0, 2 bytes: 41 42, last"},
  });
}

TEST(Decoder, GuardingAnswersFollowRequests) {
  expectSequence({
      {"705#R", Service::GuardRequest, "Guarding request node 5"},
      {"705#7F", Service::GuardAnswer, "Guarding answer node 5: Pre-operational, toggle 0"},
      {"705#7F", Service::Heartbeat, "Heartbeat node 5: Pre-operational"},
      {"705#R", Service::GuardRequest, "Guarding request node 5"},
      {"706#05", Service::Heartbeat, "Heartbeat node 6: Operational"},
      {"705#85", Service::GuardAnswer, "Guarding answer node 5: Operational, toggle 1"},
      {"705#R", Service::GuardRequest, "Guarding request node 5"},
      {"705#00", Service::BootUp, "Boot-up node 5"},
  });
}

TEST(Decoder, EmcyKnownUnknownAndDriveCodes) {
  struct Row {
    const char* frame;
    bool drive;
    const char* text;
  };
  constexpr Row kRows[] = {
      {"085#0000000000000000", false,
       "EMCY node 5: 0x0000 Error reset; register 0x00 none; manufacturer 00 00 00 00 00"},
      {"085#1023020000000000", false,
       "EMCY node 5: 0x2310 Current, device output side; register 0x02 current; manufacturer 00 00 "
       "00 00 00"},
      {"085#1023030000000000", true,
       "EMCY node 5: 0x2310 Current, device output side / Continuous over-current; register 0x03 "
       "generic, current; manufacturer 00 00 00 00 00"},
      {"085#1186A1", true,
       "EMCY node 5: 0x8611 Monitoring / Following error; register 0xA1 generic, device profile "
       "specific, manufacturer specific"},
      {"0FF#3081110102", false,
       "EMCY node 127: 0x8130 Life guard error or heartbeat error; register 0x11 generic, "
       "communication; manufacturer 01 02"},
      {"081#00A0810102030405", false,
       "EMCY node 1: 0xA000 unknown code; register 0x81 generic, manufacturer specific; "
       "manufacturer 01 02 03 04 05"},
      {"08A#01FF", false, "EMCY node 10: 0xFF01 Device specific"},
      {"085#", false, "EMCY node 5, length 0"},
  };
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.frame);
    Decoder decoder;
    const can::CanFrame f = test::frame(r.frame);
    const Decoded d = decoder.decode(f);
    EXPECT_EQ(d.service, Service::Emcy);
    EXPECT_EQ(describe(d, f, r.drive), r.text);
  }
  const Emcy e = emcyOf(test::frame("085#1023810A0B0C"));
  EXPECT_EQ(e.code, 0x2310);
  EXPECT_EQ(e.errorRegister, 0x81);
  EXPECT_EQ(e.manufacturerLength, 3);
  EXPECT_EQ(e.manufacturer[2], 0x0C);
}

TEST(EmcyCodes, MostSpecificRowOfEachStandard) {
  struct Row {
    std::uint16_t code;
    bool drive;
    std::string_view general;
    std::string_view driveText;
  };
  constexpr Row kRows[] = {
      {0x0000, false, "Error reset", ""},
      {0x0001, false, "Error reset or no error", ""},
      {0x1234, false, "Generic error", ""},
      {0x2310, false, "Current, device output side", ""},
      {0x2310, true, "Current, device output side", "Continuous over-current"},
      {0x2311, true, "Current, device output side", ""},
      {0x7121, true, "Additional modules", "Motor blocked"},
      {0x7306, true, "Additional modules", "Sensor"},
      {0x7305, true, "Additional modules", "Incremental sensor 1 fault"},
      {0x8110, false, "CAN overrun (objects lost)", ""},
      {0x8199, false, "Communication", ""},
      {0x8250, false, "RPDO time-out", ""},
      {0xF001, false, "Additional functions", ""},
      {0xFF42, true, "Device specific", ""},
      {0xA000, true, "", ""},
      {0xF100, false, "", ""},
  };
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.code);
    const EmcyCodeText t = lookUpEmcyCode(r.code, r.drive);
    EXPECT_EQ(t.general, r.general);
    EXPECT_EQ(t.drive, r.driveText);
  }
}

TEST(EmcyCodes, TableRowsAreUniqueAndWithinTheirMask) {
  std::set<std::tuple<std::uint16_t, std::uint16_t, bool>> seen;
  for (const EmcyCodeRow& row : emcyCodeTable()) {
    SCOPED_TRACE(row.text);
    EXPECT_TRUE(row.mask == 0xFFFF || row.mask == 0xFF00 || row.mask == 0xF000);
    EXPECT_EQ(row.code & ~row.mask, 0);
    EXPECT_FALSE(row.text.empty());
    EXPECT_TRUE(seen.insert({row.code, row.mask, row.drive}).second);
  }
}

TEST(EmcyCodes, ErrorRegisterBitsByName) {
  EXPECT_EQ(errorRegisterText(0x00), "none");
  EXPECT_EQ(errorRegisterText(0x81), "generic, manufacturer specific");
  EXPECT_EQ(errorRegisterText(0xFF),
            "generic, current, voltage, temperature, communication, device profile specific, "
            "reserved, manufacturer specific");
  EXPECT_EQ(errorRegisterBitName(8), "");
}

}  // namespace
}  // namespace bp::busview
