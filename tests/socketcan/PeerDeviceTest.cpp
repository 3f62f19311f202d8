// Busprobe's SDO client on vcan0 against CANopenNode's demo device (node 4), an implementation no
// one here wrote, with CANopenNode's own gateway client (canopend + cocomm) as the second opinion.
#include <cstdlib>
#include <string>
#include <vector>

#include "od/ValueEncoding.h"
#include "sdo/SdoTransfer.h"
#include "socketcan/PeerRigs.h"
#include "support/ErrorText.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

class PeerDevice : public PeerDeviceRig {
 protected:
  static sdo::TransferOptions fileOptions(bool block) {
    sdo::TransferOptions o;
    o.block = block;
    return o;
  }
};

TEST_F(PeerDevice, ALongStringAndA64BitIntegerWrittenWithEditReadBackEqual) {
  std::string text;
  for (int i = 0; text.size() < 1000; ++i) text += "line " + std::to_string(i) + ": busprobe;";
  text.resize(1000);
  od::ObjectEntry s;
  s.index = 0x2121;
  s.subIndex = 2;
  s.dataType = od::kVisibleString;
  ASSERT_EQ(errorOf([&] { sdo::writeEntry(session.sdo, s, od::typedBytes(s.dataType, text, '.')); }), "");
  for (bool block : {true, false}) {
    SCOPED_TRACE(block ? "block upload" : "segmented upload");
    EXPECT_EQ(sdo::SdoTransfer(session.sdo, fileOptions(block)).upload(0x2121, 2), text);
  }
  EXPECT_EQ(cocommRead("0x2121 2 vs"), "\"" + text + "\"");

  od::ObjectEntry i64;
  i64.index = 0x2120;
  i64.subIndex = 1;
  i64.dataType = od::kInteger64;
  ASSERT_EQ(errorOf([&] { sdo::writeEntry(session.sdo, i64, od::typedBytes(i64.dataType, "-5000000000123", '.')); }), "");
  od::ObjectEntry back = i64;
  session.sdo.TransferSdo(back);  // R
  EXPECT_EQ(back.value64, -5000000000123);
  EXPECT_EQ(cocommRead("0x2120 1 i64"), "-5000000000123");
}

TEST_F(PeerDevice, BlockDownloadAndUploadOfTheDemoDomain) {
  // The device's DOMAIN 0x2122 takes a running sequence 0, 1, ..., 255, 0, ... of any length and
  // then reads back as that many bytes of it.
  std::string data(8192, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i & 0xFF);
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  for (bool block : {true, false}) {
    SCOPED_TRACE(block ? "block" : "segmented");
    const std::string part = data.substr(0, block ? data.size() : 1000);
    ASSERT_EQ(errorOf([&] { sdo::SdoTransfer(session.sdo, fileOptions(block)).download(0x2122, 0, part); }), "");
    EXPECT_EQ(sdo::SdoTransfer(session.sdo, fileOptions(block)).upload(0x2122, 0), part);
  }
  // The device took both block transfers as such: its block download answer (scs 5, CRC) and its
  // block upload initiate answer (scs 6, CRC, size) are on the bus.
  const std::vector<std::string> heard = dump.framesWithin(500ms);
  const auto said = [&heard](const char* prefix) {
    for (const auto& f : heard)
      if (f.rfind(prefix, 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(said("584#A4222100")) << dump.output();
  EXPECT_TRUE(said("584#C6222100")) << dump.output();
  // A value out of the sequence is refused by the device: its abort is the error.
  const std::string wrong(100, '\x7F');
  EXPECT_NE(errorOf([&] { sdo::SdoTransfer(session.sdo, fileOptions(true)).download(0x2122, 0, wrong); }), "");
}

}  // namespace
}  // namespace bp::test
