// The object dictionary list: heads in order of first occurrence, chains in file order.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "od/EdsReader.h"
#include "od/ObjectDictionary.h"

namespace bp::od {
namespace {

std::unique_ptr<ObjectEntry> record(std::int32_t index, std::int32_t subIndex) {
  auto e = std::make_unique<ObjectEntry>();
  e->index = index;
  e->subIndex = subIndex;
  return e;
}

// (index, subIndex) of each record of a chain, head first.
std::vector<std::pair<int, int>> chain(const ObjectEntry* head) {
  std::vector<std::pair<int, int>> out;
  for (const ObjectEntry* e = head; e != nullptr; e = e->next)
    out.emplace_back(e->index, e->subIndex);
  return out;
}

TEST(ObjectDictionaryAdd, HeadsInFirstOccurrenceOrderChainsInAddOrder) {
  ObjectDictionary d;
  d.AddObjectEntry(record(0x1018, -1));
  d.AddObjectEntry(record(0x1000, 0));
  d.AddObjectEntry(record(0x1018, 0));
  d.AddObjectEntry(record(0x2000, -1));
  d.AddObjectEntry(record(0x1018, 2));  // after another index: still joins its chain
  d.AddObjectEntry(record(0x1018, 1));

  ASSERT_EQ(d.heads().size(), 3u);
  EXPECT_EQ(d.recordCount(), 6u);
  EXPECT_EQ(d.heads()[0]->index, 0x1018);
  EXPECT_EQ(d.heads()[1]->index, 0x1000);
  EXPECT_EQ(d.heads()[2]->index, 0x2000);
  const std::vector<std::pair<int, int>> expected{
      {0x1018, -1}, {0x1018, 0}, {0x1018, 2}, {0x1018, 1}};
  EXPECT_EQ(chain(d.heads()[0]), expected);
  EXPECT_EQ(d.heads()[1]->next, nullptr);
}

TEST(ObjectDictionaryAdd, IncomingNextIsNotFollowed) {
  ObjectDictionary d;
  ObjectEntry foreign;
  auto e = record(0x1000, 0);
  e->next = &foreign;
  d.AddObjectEntry(std::move(e));
  d.AddObjectEntry(record(0x1000, 1));
  EXPECT_EQ(chain(d.heads()[0]), (std::vector<std::pair<int, int>>{{0x1000, 0}, {0x1000, 1}}));
  d.AddObjectEntry(nullptr);
  EXPECT_EQ(d.recordCount(), 2u);
}

TEST(ObjectDictionaryAdd, ManyRecordsKeepEveryChainComplete) {
  // 5,000 objects with four sub-entries each, interleaved the way a large file lists them.
  ObjectDictionary d;
  for (int i = 0; i < 5000; ++i) d.AddObjectEntry(record(0x2000 + i, -1));
  for (int sub = 0; sub < 4; ++sub) {
    for (int i = 0; i < 5000; ++i) d.AddObjectEntry(record(0x2000 + i, sub));
  }
  ASSERT_EQ(d.heads().size(), 5000u);
  EXPECT_EQ(d.recordCount(), 25000u);
  for (int i : {0, 1, 2500, 4999}) {
    const auto c = chain(d.heads()[static_cast<std::size_t>(i)]);
    ASSERT_EQ(c.size(), 5u);
    for (int sub = 0; sub < 4; ++sub) EXPECT_EQ(c[static_cast<std::size_t>(sub + 1)].second, sub);
  }
}

TEST(ObjectDictionaryFind, HeadOrChainedRecordByIndexAndSubIndex) {
  ObjectDictionary d;
  d.AddObjectEntry(record(0x1018, -1));
  d.AddObjectEntry(record(0x1018, 0));
  d.AddObjectEntry(record(0x1018, 4));
  d.AddObjectEntry(record(0x1018, 4));  // a duplicate: the first one is found
  EXPECT_EQ(d.find(0x1018, -1), d.heads()[0]);
  EXPECT_EQ(d.find(0x1018, 4), d.heads()[0]->next->next);
  EXPECT_EQ(d.find(0x1018, 3), nullptr);
  EXPECT_EQ(d.find(0x1019, 0), nullptr);
}

TEST(ObjectDictionaryNodeId, DefaultsFromTheNodeIdFollowUnlessEdited) {
  ObjectDictionary d;
  ReadEDSText("[1800sub1]\nDataType=7\nDefaultValue=$NODEID+0x180\n"
              "[1400sub1]\nDataType=7\nDefaultValue=$NODEID+0x200\n"
              "[1000]\nDataType=7\nDefaultValue=0x191\n"
              "[2000]\nDataType=0x1B\nDefaultValue=$NODEID+0x100000000\n",
              d, '.', 5);
  ObjectEntry* tpdo = d.find(0x1800, 1);
  ObjectEntry* rpdo = d.find(0x1400, 1);
  ObjectEntry* wide = d.find(0x2000, 0);
  EXPECT_EQ(tpdo->value, 0x185);
  rpdo->value = 0x333;  // edited by the user

  EXPECT_EQ(d.applyNodeId(6), (std::vector<ObjectEntry*>{tpdo, wide}));
  EXPECT_EQ(tpdo->value, 0x186);
  EXPECT_EQ(tpdo->defaultValue, 0x186);
  EXPECT_EQ(wide->value64, 0x100000006);
  EXPECT_EQ(rpdo->value, 0x333) << "an edited value does not follow";
  EXPECT_EQ(rpdo->defaultValue, 0x205);
  EXPECT_EQ(d.find(0x1000, 0)->value, 0x191);
  EXPECT_TRUE(d.applyNodeId(6).empty()) << "the same node changes nothing";
}

TEST(ObjectDictionaryClear, CallbackRunsFirstThenEverythingIsReleased) {
  ObjectDictionary d;
  d.AddObjectEntry(record(0x1000, 0));
  d.AddObjectEntry(record(0x1000, 1));
  std::size_t countSeenByCallback = 0;
  int calls = 0;
  d.setBeforeClear([&] {
    ++calls;
    countSeenByCallback = d.recordCount();
  });
  d.ClearObjectDictionary();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(countSeenByCallback, 2u) << "callback must run while records still exist";
  EXPECT_TRUE(d.empty());
  EXPECT_EQ(d.recordCount(), 0u);
  EXPECT_EQ(d.find(0x1000, 0), nullptr);

  // After a clear the same index starts a new list entry, not an old chain.
  d.AddObjectEntry(record(0x1000, 5));
  ASSERT_EQ(d.heads().size(), 1u);
  EXPECT_EQ(d.heads()[0]->subIndex, 5);
  EXPECT_EQ(d.heads()[0]->next, nullptr);
}

}  // namespace
}  // namespace bp::od
