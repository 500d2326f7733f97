#include "common/sized_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

// A table of uint32_t rows after its count, the way the system hands out its tables: the
// probe and each too small read say the size needed now; `growth` rows come between calls.
struct FakeTable {
  uint32_t rows;
  uint32_t growth;
  int calls = 0;
  uint32_t operator()(unsigned char* buffer, uint32_t* size) {
    ++calls;
    uint32_t need = 4 + rows * 4;
    if (!buffer || *size < need) {
      *size = need;
      rows += growth;
      return kTableTooSmall;
    }
    std::memcpy(buffer, &rows, 4);
    for (uint32_t i = 0; i < rows; ++i) std::memcpy(buffer + 4 + i * 4, &i, 4);
    *size = need;
    return kTableReadOk;
  }
};

TEST(SizedTable, ReadsAgainWithTheNewerSizeUpToThreeTimes) {
  SizedTable table;
  // Grown once between the probe and the first read: the second read has it.
  FakeTable once{5, 0};
  auto growOnce = [&](unsigned char* b, uint32_t* s) {
    uint32_t rc = once(b, s);
    if (once.calls == 1) once.rows = 7;
    return rc;
  };
  ASSERT_EQ(table.Load(growOnce), kTableReadOk);
  EXPECT_EQ(once.calls, 3);
  ASSERT_EQ(table.RowCount(4, 4), 7u);
  uint32_t last;
  std::memcpy(&last, table.Data() + 4 + 6 * 4, 4);
  EXPECT_EQ(last, 6u);

  // Growing at every call: the probe and three reads, then the failure.
  FakeTable always{5, 1};
  EXPECT_EQ(table.Load(std::ref(always)), kTableTooSmall);
  EXPECT_EQ(always.calls, 4);
  EXPECT_EQ(table.RowCount(4, 4), 0u);
  EXPECT_EQ(table.Data(), nullptr);

  // A size too small for the count itself, and another failure, are failures as they come.
  EXPECT_EQ(table.Load([](unsigned char*, uint32_t* s) { *s = 2; return kTableTooSmall; }),
            kTableTooSmall);
  EXPECT_EQ(table.Load([](unsigned char*, uint32_t*) { return uint32_t(87); }), 87u);

  // A count beyond the bytes written is cut to them.
  auto lying = [](unsigned char* b, uint32_t* s) {
    if (!b) {
      *s = 64;
      return kTableTooSmall;
    }
    uint32_t count = 1000;
    std::memcpy(b, &count, 4);
    *s = 4 + 3 * 4;
    return kTableReadOk;
  };
  ASSERT_EQ(table.Load(lying), kTableReadOk);
  EXPECT_EQ(table.RowCount(4, 4), 3u);
}

}  // namespace
