// The user SDO list: de-duplicating copies, row texts, drag-and-drop order, removal, read/write all.
#include "usersdo/UserSdoList.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ErrorText.h"
#include "support/ObjectEntries.h"
#include "util/Error.h"

namespace bp::usersdo {
namespace {

using test::objectEntry;

std::vector<std::int32_t> values(const UserSdoList& list) {
  std::vector<std::int32_t> v;
  for (const auto& e : list) v.push_back(e->value);
  return v;
}

// ---- add to user SDO list ----

TEST(AddToUserSdoList, SameWriteValueTwiceGivesOneEntry) {
  UserSdoList list;
  const auto w6 = objectEntry(0x6040, 0, od::kUnsigned16, 6, od::kWrite);
  EXPECT_TRUE(addToUserSdoList(list, w6, '.'));
  EXPECT_FALSE(addToUserSdoList(list, w6, '.'));
  EXPECT_EQ(list.size(), 1u);
}

TEST(AddToUserSdoList, AnotherWriteValueGivesASecondEntry) {
  UserSdoList list;
  addToUserSdoList(list, objectEntry(0x6040, 0, od::kUnsigned16, 6, od::kWrite), '.');
  addToUserSdoList(list, objectEntry(0x6040, 0, od::kUnsigned16, 15, od::kWrite), '.');
  EXPECT_EQ(values(list), (std::vector<std::int32_t>{6, 15}));
}

TEST(AddToUserSdoList, ReadEntryOncePerObjectWhateverItsValue) {
  UserSdoList list;
  addToUserSdoList(list, objectEntry(0x1000, 0, od::kUnsigned32, 0x191, od::kRead), '.');
  addToUserSdoList(list, objectEntry(0x1000, 0, od::kUnsigned32, 0x192, od::kRead), '.');  // A again
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->value, 0x191);  // the first copy stays as it was
}

TEST(AddToUserSdoList, ObjectSubIndexAndDirectionTellEntriesApart) {
  UserSdoList list;
  addToUserSdoList(list, objectEntry(0x6040, 0, od::kUnsigned16, 6, od::kRead), '.');
  addToUserSdoList(list, objectEntry(0x6040, 0, od::kUnsigned16, 6, od::kWrite), '.');
  addToUserSdoList(list, objectEntry(0x6040, 1, od::kUnsigned16, 6, od::kRead), '.');
  addToUserSdoList(list, objectEntry(0x6041, 0, od::kUnsigned16, 6, od::kRead), '.');
  EXPECT_EQ(list.size(), 4u);
}

TEST(AddToUserSdoList, WriteEntriesCompareByValueText) {
  // Equal value texts are equal entries even when other fields differ.
  UserSdoList list;
  auto a = objectEntry(0x2000, 0, od::kUnsigned8, 5, od::kWrite);
  auto b = a;
  b.realValue = 2.5;  // not part of an UNSIGNED8's value text
  addToUserSdoList(list, a, '.');
  addToUserSdoList(list, b, '.');
  EXPECT_EQ(list.size(), 1u);
  // REAL32 entries compare by their real value.
  auto r1 = objectEntry(0x2001, 0, od::kReal32, 0, od::kWrite);
  r1.realValue = 1.5;
  auto r2 = r1;
  r2.realValue = 2.5;
  addToUserSdoList(list, r1, '.');
  addToUserSdoList(list, r2, '.');
  EXPECT_EQ(list.size(), 3u);
}

TEST(AddToUserSdoList, CopyIsIndependentAndHasNoNextLink) {
  UserSdoList list;
  od::ObjectEntry other{};
  auto e = objectEntry(0x1008, 0, od::kVisibleString, 0, od::kRead, "Device name");
  e.textValue = "Node-X";
  e.setDefaultText("dflt");
  e.next = &other;
  addToUserSdoList(list, e, '.');
  e.textValue = "changed";
  e.setName("changed");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_NE(list[0].get(), &e);
  EXPECT_EQ(list[0]->textValue, "Node-X");
  EXPECT_EQ(list[0]->nameText(), "Device name");
  EXPECT_EQ(list[0]->defaultTextView(), "dflt");
  EXPECT_EQ(list[0]->next, nullptr);
}

// ---- row texts ----

TEST(UserRowTexts, DirectionNameIndexSubAndValue) {
  const auto w = userRowTexts(objectEntry(0x6040, 0, od::kUnsigned16, 6, od::kWrite, "Controlword"), '.');
  EXPECT_EQ(w, (std::array<std::string, 5>{"W", "Controlword", "0x6040", "0", "6 (0x6)"}));
  const auto r = userRowTexts(objectEntry(0x60, 12, od::kInteger8, -1, od::kRead, "Low"), '.');
  EXPECT_EQ(r, (std::array<std::string, 5>{"R", "Low", "0x0060", "12", "-1 (0xFFFFFFFF)"}));
  auto s = objectEntry(0x1008, 0, od::kVisibleString, 0, od::kRead, "Name");
  s.textValue = "abc";
  EXPECT_EQ(userRowTexts(s, '.')[4], "abc");
}

// ---- values to write ----

TEST(WriteValueError, NamesTheFirstWriteEntryOutsideItsTypeAndPassesReadEntries) {
  UserSdoList list;
  addToUserSdoList(list, objectEntry(0x2000, 1, od::kUnsigned8, 300, od::kRead), '.');
  addToUserSdoList(list, objectEntry(0x2000, 1, od::kUnsigned8, 255, od::kWrite), '.');
  EXPECT_EQ(writeValueError(list), std::nullopt);
  addToUserSdoList(list, objectEntry(0x2000, 2, od::kInteger8, 200, od::kWrite), '.');
  addToUserSdoList(list, objectEntry(0x2000, 1, od::kUnsigned8, 300, od::kWrite), '.');
  EXPECT_EQ(writeValueError(list), "200 is out of range for INTEGER8 (-128 to 127)");
  EXPECT_EQ(writeValueError(*list[3]), "300 is out of range for UNSIGNED8 (0 to 255)");
  EXPECT_EQ(writeValueError(*list[0]), std::nullopt);
}

// ---- drag and drop ----

struct DropRow {
  const char* name;
  int rows;
  int dragged;
  std::optional<int> target;
  std::vector<int> order;  // old positions in their new order
};

TEST(DropOrder, DraggedRowLandsOnTheTargetsPlace) {
  const DropRow rows[] = {
      {"row 1 onto row 3", 4, 0, 2, {1, 2, 0, 3}},
      {"row 4 onto row 2", 4, 3, 1, {0, 3, 1, 2}},
      {"row 2 below the last row", 4, 1, std::nullopt, {0, 2, 3, 1}},
      {"row 2 onto itself", 4, 1, 1, {0, 1, 2, 3}},
      {"row 1 onto row 2", 4, 0, 1, {1, 0, 2, 3}},
      {"row 2 onto row 1", 4, 1, 0, {1, 0, 2, 3}},
      {"last row below the last row", 4, 3, std::nullopt, {0, 1, 2, 3}},
      {"row 1 onto the last row", 4, 0, 3, {1, 2, 3, 0}},
      {"target outside the rows counts as no target", 4, 0, 7, {1, 2, 3, 0}},
      {"no dragged row: nothing moves", 4, -1, 2, {0, 1, 2, 3}},
      {"single row onto the empty area", 1, 0, std::nullopt, {0}},
      {"empty list", 0, 0, std::nullopt, {}},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dropOrder(c.rows, c.dragged, c.target), c.order);
  }
}

TEST(ApplyOrder, MovesTheSameEntriesWithoutCopying) {
  UserSdoList list;
  for (int v : {1, 2, 3, 4}) list.push_back(std::make_unique<od::ObjectEntry>(objectEntry(0x2000, v, od::kUnsigned8, v, od::kWrite)));
  std::vector<const od::ObjectEntry*> before;
  for (const auto& e : list) before.push_back(e.get());
  applyOrder(list, dropOrder(4, 0, 2));
  EXPECT_EQ(values(list), (std::vector<std::int32_t>{2, 3, 1, 4}));
  EXPECT_EQ(list[2].get(), before[0]);
  EXPECT_EQ(list[0].get(), before[1]);
}

TEST(ApplyOrder, RefusesAnOrderThatIsNoPermutation) {
  UserSdoList list;
  for (int v : {1, 2, 3}) list.push_back(std::make_unique<od::ObjectEntry>(objectEntry(0x2000, v, od::kUnsigned8, v, od::kWrite)));
  for (const std::vector<int>& bad : {std::vector<int>{0, 1}, {0, 1, 1}, {0, 1, 3}, {-1, 0, 1}}) {
    EXPECT_THROW(applyOrder(list, bad), std::invalid_argument);
    EXPECT_EQ(values(list), (std::vector<std::int32_t>{1, 2, 3}));
  }
}

// ---- Delete key ----

TEST(RemoveAt, RemovesOnlyThatPosition) {
  UserSdoList list;
  for (int v : {1, 2, 3}) list.push_back(std::make_unique<od::ObjectEntry>(objectEntry(0x2000, v, od::kUnsigned8, v, od::kWrite)));
  removeAt(list, 1);
  EXPECT_EQ(values(list), (std::vector<std::int32_t>{1, 3}));
  removeAt(list, -1);
  removeAt(list, 2);
  EXPECT_EQ(values(list), (std::vector<std::int32_t>{1, 3}));
}

// ---- read all / write all ----

class TransferAll : public ::testing::Test {
 protected:
  UserSdoList list;
  std::vector<std::int32_t> sent;  // values of the entries transferred, in order
  void add(std::int32_t value, std::uint8_t direction) {
    list.push_back(std::make_unique<od::ObjectEntry>(objectEntry(0x6040, 0, od::kUnsigned16, value, direction)));
  }
  std::function<void(od::ObjectEntry&)> record() {
    return [this](od::ObjectEntry& e) { sent.push_back(e.value); };
  }
};

TEST_F(TransferAll, OnlyEntriesOfTheDirectionTopToBottom) {
  add(1, od::kRead);
  add(6, od::kWrite);
  add(2, od::kRead);
  add(15, od::kWrite);
  transferAll(list, od::kWrite, record());
  EXPECT_EQ(sent, (std::vector<std::int32_t>{6, 15}));
  sent.clear();
  transferAll(list, od::kRead, record());
  EXPECT_EQ(sent, (std::vector<std::int32_t>{1, 2}));
}

TEST_F(TransferAll, FollowsTheOrderAfterADrag) {
  add(6, od::kWrite);
  add(15, od::kWrite);
  applyOrder(list, dropOrder(2, 1, 0));  // second dragged above the first
  transferAll(list, od::kWrite, record());
  EXPECT_EQ(sent, (std::vector<std::int32_t>{15, 6}));
}

TEST_F(TransferAll, EmptyListOrOtherDirectionOnlyTransfersNothing) {
  transferAll(list, od::kRead, record());
  add(1, od::kRead);
  transferAll(list, od::kWrite, record());
  EXPECT_TRUE(sent.empty());
}

TEST_F(TransferAll, StopsAtTheFirstFailureAndRethrowsIt) {
  for (int i = 0; i < 5; ++i) add(0, od::kRead);
  int calls = 0;
  const auto readOrTimeOut = [&](od::ObjectEntry& e) {
    ++calls;
    if (calls == 2) {
      e.value = 0x77;  // what the failing transfer stored stays
      throw Error("transfer failed");
    }
    e.value = 100 + calls;
  };
  EXPECT_EQ(test::errorOf([&] { transferAll(list, od::kRead, readOrTimeOut); }), "transfer failed");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(values(list), (std::vector<std::int32_t>{101, 0x77, 0, 0, 0}));
}

}  // namespace
}  // namespace bp::usersdo
