// The record: serials issued once across connections, interrupted boards found at the next
// start, the schema brought up to date and a newer one refused, the serial formats.
#include "station_record.h"

#include <gtest/gtest.h>

#include <set>

#include "station_databases.h"

namespace velmora::station::testing {
namespace {

std::unique_ptr<StationRecord> OpenOrFail(const std::string& url) {
  std::string error;
  auto db = OpenDatabase(url, error);
  auto record = db ? StationRecord::Open(std::move(db), error) : nullptr;
  EXPECT_NE(record, nullptr) << error;
  return record;
}

std::int64_t Count(StationRecord& record, const std::string& where, const std::string& bench) {
  std::vector<SqlRow> rows;
  EXPECT_TRUE(
      record.Db().Run("SELECT count(*) FROM boards WHERE bench = ? AND " + where, {bench}, &rows));
  return rows.empty() ? -1 : std::stoll(rows[0][0].value_or("-1"));
}

TEST(StationRecordTest, SerialsAreIssuedOnceAndInterruptedBoardsAreFound) {
  velmora::testing::ScratchDir scratch;
  for (const std::string& url : TestDatabases(scratch)) {
    SCOPED_TRACE(url);
    const std::string bench = Unique("bench"), format = Unique("T") + "-%04d";
    auto first = OpenOrFail(url), second = OpenOrFail(url);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->SchemaVersion(), kRecordSchemaVersion);

    // Two stations on one record take turns: every serial once, in counter order.
    std::set<std::string> serials;
    std::string error;
    for (int i = 0; i < 6; ++i) {
      StationRecord& record = i % 2 ? *second : *first;
      const auto issued = record.StartBoard({bench, "1-1", "fw.bin", 16, "t"}, format, error);
      ASSERT_TRUE(issued) << error;
      EXPECT_EQ(issued->serial, FormatSerial(format, i + 1));
      serials.insert(issued->serial);
      BoardResult result;
      result.passed = i != 3;
      result.failure = result.passed ? "" : "Verifying Fail at 0x000040";
      result.steps = {{"erase", "ok", 1.5}};
      ASSERT_TRUE(record.FinishBoard(issued->row, result, error)) << error;
    }
    EXPECT_EQ(serials.size(), 6u);
    EXPECT_EQ(Count(*first, "verdict = 'failed' AND failure LIKE 'Verifying%'", bench), 1);

    // A station killed mid-board leaves its row running; the bench's next start marks it, and
    // its serial is not issued again. Another bench's running board is not touched.
    ASSERT_TRUE(first->StartBoard({bench, "1-2", "fw.bin", 16, "t"}, format, error));
    ASSERT_TRUE(first->StartBoard({bench + "x", "1-2", "fw.bin", 16, "t"}, format, error));
    auto restarted = OpenOrFail(url);
    EXPECT_EQ(restarted->MarkInterrupted(bench, error), 1);
    EXPECT_EQ(Count(*restarted, "verdict = 'interrupted'", bench), 1);
    EXPECT_EQ(Count(*restarted, "verdict = 'running'", bench + "x"), 1);
    EXPECT_EQ(restarted->StartBoard({bench, "1-2", "fw.bin", 16, "t"}, format, error)->serial,
              FormatSerial(format, 9));
  }
}

TEST(StationRecordTest, ARecordOfANewerSchemaIsRefused) {
  velmora::testing::ScratchDir scratch;
  const std::string url = "sqlite:" + scratch.PathOf("newer.db");
  OpenOrFail(url)->Db().Run("UPDATE schema_version SET version = 99", {});
  std::string error;
  EXPECT_EQ(StationRecord::Open(OpenDatabase(url, error), error), nullptr);
  EXPECT_EQ(error,
            "The record has schema version 99, newer than this tool's 2: use a newer velmora-isp");
}

TEST(StationRecordTest, SerialFormats) {
  const struct {
    const char* format;
    std::int64_t number;
    const char* serial;  // nullptr: the format is refused
  } cases[] = {
      {"VL%06d", 42, "VL000042"}, {"%d", 7, "7"},        {"A%%%03d-", 5, "A%005-"},
      {"SN%4d", 12, "SN  12"},    {"VL", 1, nullptr},    {"%d%d", 1, nullptr},
      {"%s", 1, nullptr},         {"VL%06", 1, nullptr}, {"%040d", 1, nullptr},
  };
  for (const auto& c : cases) {
    const auto refusal = SerialFormatRefusal(c.format);
    EXPECT_EQ(refusal.has_value(), c.serial == nullptr) << c.format;
    if (c.serial != nullptr) {
      EXPECT_EQ(FormatSerial(c.format, c.number), c.serial) << c.format;
    }
  }
}

}  // namespace
}  // namespace velmora::station::testing
