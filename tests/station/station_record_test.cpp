// The record: serials issued once across connections, interrupted boards found at the next
// start, a record of a newer schema refused, the serial formats.
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

std::string Select(StationRecord& record, const std::string& query, const std::string& bench) {
  std::vector<SqlRow> rows;
  EXPECT_TRUE(record.Db().Run(query, {bench}, &rows)) << query;
  std::string text;
  for (const SqlRow& row : rows) {
    for (const SqlValue& value : row) text += value.value_or("NULL") + " ";
    text += "| ";
  }
  return text;
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
    std::string error;
    for (int i = 0; i < 4; ++i) {
      StationRecord& record = i % 2 ? *second : *first;
      const auto issued = record.StartBoard({bench, "1-1", "fw.bin", 16, "t"}, format, error);
      ASSERT_TRUE(issued) << error;
      EXPECT_EQ(issued->serial, FormatSerial(format, i + 1));
      BoardResult result;
      result.passed = i != 3;
      result.failure = result.passed ? "" : "Verifying Fail at 0x000040";
      result.jedec_id = i == 2 ? "" : "C2 20 13";
      result.image_checksum = 0xF1AA;
      result.steps = {{"erase", "ok", 1.5}, {"program", i == 3 ? "failed" : "ok", 0.25}};
      ASSERT_TRUE(record.FinishBoard(issued->row, result, error)) << error;
    }
    EXPECT_EQ(Select(*first,
                     "SELECT serial, verdict, failure, jedec_id, image_checksum FROM boards WHERE "
                     "bench = ? ORDER BY id",
                     bench),
              FormatSerial(format, 1) + " passed NULL C2 20 13 F1AA | " + FormatSerial(format, 2) +
                  " passed NULL C2 20 13 F1AA | " + FormatSerial(format, 3) +
                  " passed NULL NULL F1AA | " + FormatSerial(format, 4) +
                  " failed Verifying Fail at 0x000040 C2 20 13 F1AA | ");
    EXPECT_EQ(Select(*first,
                     "SELECT s.position, s.step, s.outcome FROM board_steps s JOIN boards b ON "
                     "b.id = s.board_id WHERE b.bench = ? AND b.verdict = 'failed' ORDER BY 1",
                     bench),
              "0 erase ok | 1 program failed | ");

    // A station killed mid-board leaves its row running; the bench's next start marks it, and
    // its serial is not issued again. Another bench's running board is not touched.
    ASSERT_TRUE(first->StartBoard({bench, "1-2", "fw.bin", 16, "t"}, format, error));
    ASSERT_TRUE(first->StartBoard({bench + "x", "1-2", "fw.bin", 16, "t"}, format, error));
    auto restarted = OpenOrFail(url);
    EXPECT_EQ(restarted->MarkInterrupted(bench, error), 1);
    EXPECT_EQ(Select(*restarted, "SELECT verdict FROM boards WHERE bench = ? AND serial LIKE '%5'",
                     bench),
              "interrupted | ");
    EXPECT_EQ(Select(*restarted, "SELECT verdict FROM boards WHERE bench = ?", bench + "x"),
              "running | ");
    EXPECT_EQ(restarted->StartBoard({bench, "1-2", "fw.bin", 16, "t"}, format, error)->serial,
              FormatSerial(format, 7));
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
    EXPECT_EQ(SerialFormatRefusal(c.format).has_value(), c.serial == nullptr) << c.format;
    if (c.serial != nullptr) {
      EXPECT_EQ(FormatSerial(c.format, c.number), c.serial) << c.format;
    }
  }
}

}  // namespace
}  // namespace velmora::station::testing
