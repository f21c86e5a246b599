// The flash model's rules, driven over its serial bus the way the bridge drives it.
#include "spi_flash_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace velmora::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kFill = 0xCC;

// One chip-select cycle: clocks `out`, then `read` dummy bytes, and returns what came back
// during the dummy bytes.
Bytes Cycle(SpiFlashModel& flash, const Bytes& out, std::size_t read = 0) {
  flash.Select();
  for (std::uint8_t byte : out) flash.Transfer(byte);
  Bytes answer;
  for (std::size_t i = 0; i < read; ++i) answer.push_back(flash.Transfer(0xFF));
  flash.Deselect();
  return answer;
}

FlashConfig Part(std::uint8_t type, std::uint8_t code) {
  FlashConfig config;
  config.id = {0xC2, type, code};
  config.fill = kFill;
  return config;
}

class FlashModelTest : public ::testing::Test {
 protected:
  explicit FlashModelTest(FlashConfig config = Part(0x20, 0x13)) : flash(clock, config) {}

  Bytes Command(const Bytes& out, std::size_t read = 0) { return Cycle(flash, out, read); }
  void WriteEnable() { Command({0x06}); }
  std::uint8_t Status() { return Command({0x05}, 1)[0]; }
  Bytes Read(std::uint32_t address, std::size_t count) {
    return Command({0x03, static_cast<std::uint8_t>(address >> 16),
                    static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)},
                   count);
  }
  void Program(std::uint32_t address, const Bytes& data) {
    Bytes out = {0x02, static_cast<std::uint8_t>(address >> 16),
                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    out.insert(out.end(), data.begin(), data.end());
    Command(out);
  }
  void SectorErase(std::uint32_t address) {
    Command({0x20, static_cast<std::uint8_t>(address >> 16),
             static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
  }
  void WriteStatus(std::uint8_t value) {
    WriteEnable();
    Command({0x01, value});
    Finish();
  }
  void Finish() { clock.Advance(5'000'000); }

  VirtualClock clock;
  SpiFlashModel flash;
};

TEST_F(FlashModelTest, WriteCommandsWithoutWriteEnableChangeNothing) {
  const struct {
    const char* name;
    Bytes command;
  } cases[] = {
      {"page program", {0x02, 0x00, 0x01, 0x00, 0x12, 0x34}},
      {"sector erase", {0x20, 0x00, 0x10, 0x00}},
      {"chip erase C7", {0xC7}},
      {"chip erase 60", {0x60}},
      {"write status", {0x01, 0x1C}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    flash.Fill(kFill);
    Command(c.command);
    EXPECT_EQ(Status(), 0x00);  // not busy, no protect bits
    EXPECT_EQ(flash.ReadRange(0, flash.Size()), Bytes(flash.Size(), kFill));
  }
  // Write disable takes back a write enable.
  WriteEnable();
  Command({0x04});
  Program(0x100, {0x00});
  EXPECT_EQ(flash.Peek(0x100), kFill);
  EXPECT_EQ(flash.PagePrograms() + flash.SectorErases() + flash.ChipErases(), 0u);
  EXPECT_EQ(flash.StatusWrites(), 0u);
}

TEST_F(FlashModelTest, WriteEnableIsHeldThroughTheCycleAndConsumedAtItsEnd) {
  const struct {
    const char* name;
    Bytes command;
    std::uint64_t busy_us;
  } cases[] = {
      {"page program", {0x02, 0x00, 0x00, 0x00, 0x00}, 1000},
      {"sector erase", {0x20, 0x00, 0x00, 0x00}, 60000},
      {"chip erase", {0xC7}, 2000000},
      {"write status", {0x01, 0x00}, 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteEnable();
    EXPECT_EQ(Status(), SpiFlashModel::kWel);
    Command(c.command);
    EXPECT_EQ(Status(), SpiFlashModel::kWel | SpiFlashModel::kWip);
    clock.Advance(c.busy_us - 1);
    EXPECT_EQ(Status(), SpiFlashModel::kWel | SpiFlashModel::kWip);
    clock.Advance(1);
    EXPECT_EQ(Status(), 0x00);
  }
}

TEST_F(FlashModelTest, PageProgramOnlyClearsBits) {
  WriteEnable();
  Program(0x000200, {0x5A, 0xFF, 0x00, 0x33});
  Finish();
  EXPECT_EQ(Read(0x000200, 5), (Bytes{0xCC & 0x5A, 0xCC, 0x00, 0xCC & 0x33, 0xCC}));
  // Programming 0xFF over a programmed byte cannot bring its bits back.
  WriteEnable();
  Program(0x000200, {0xFF});
  Finish();
  EXPECT_EQ(flash.Peek(0x000200), 0xCC & 0x5A);
  EXPECT_EQ(flash.PagePrograms(), 2u);
}

TEST_F(FlashModelTest, OnlyTheLastPageOfBytesCountsWhenMoreAreSent) {
  flash.Fill(0xFF);
  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  WriteEnable();
  Program(0x000400, data);
  Finish();
  // Bytes 256..299 went round the page again and replaced bytes 0..43.
  const Bytes page = Read(0x000400, 256);
  for (std::size_t column = 0; column < 256; ++column) {
    const std::size_t source = column < 44 ? column + 256 : column;
    ASSERT_EQ(page[column], data[source]) << "column " << column;
  }
}

TEST_F(FlashModelTest, BusyPartIgnoresEverythingButReadStatus) {
  flash.Fill(0xFF);
  WriteEnable();
  Program(0x000000, {0x11});
  // During the 1 ms program cycle:
  EXPECT_EQ(Command({0x9F}, 3), (Bytes{0xFF, 0xFF, 0xFF}));  // nothing drives the bus
  EXPECT_EQ(Read(0x000000, 2), (Bytes{0xFF, 0xFF}));
  WriteEnable();
  Program(0x000001, {0x22});  // ignored: busy
  Command({0x04});            // ignored too: WEL stays until the cycle ends
  EXPECT_EQ(Command({0x05}, 3), Bytes(3, SpiFlashModel::kWel | SpiFlashModel::kWip));
  clock.Advance(1000);
  EXPECT_EQ(Status(), 0x00);
  EXPECT_EQ(Read(0x000000, 2), (Bytes{0x11, 0xFF}));
  EXPECT_EQ(flash.PagePrograms(), 1u);
}

TEST_F(FlashModelTest, ReadStatusShowsTheCycleEndWhileItIsBeingClocked) {
  WriteEnable();
  SectorErase(0);
  flash.Select();
  flash.Transfer(0x05);
  EXPECT_EQ(flash.Transfer(0xFF) & SpiFlashModel::kWip, SpiFlashModel::kWip);
  clock.Advance(60000);
  EXPECT_EQ(flash.Transfer(0xFF), 0x00);
  flash.Deselect();
}

TEST_F(FlashModelTest, SectorEraseClearsTheWholeSectorHoldingAnUnalignedAddress) {
  WriteEnable();
  SectorErase(0x012345);
  Finish();
  EXPECT_EQ(flash.ReadRange(0x012000, 0x1000), Bytes(0x1000, 0xFF));
  EXPECT_EQ(flash.Peek(0x011FFF), kFill);
  EXPECT_EQ(flash.Peek(0x013000), kFill);
  EXPECT_EQ(flash.SectorErases(), 1u);
}

TEST_F(FlashModelTest, CommandsCutShortOrRunLongAreDropped) {
  const struct {
    const char* name;
    Bytes command;
  } cases[] = {
      {"sector erase, two address bytes", {0x20, 0x00, 0x10}},
      {"sector erase, extra byte", {0x20, 0x00, 0x10, 0x00, 0x00}},
      {"page program, no data", {0x02, 0x00, 0x00, 0x00}},
      {"chip erase, extra byte", {0xC7, 0x00}},
      {"write status, no value", {0x01}},
      {"unknown opcode", {0xAB}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteEnable();
    Command(c.command);
    EXPECT_EQ(Status(), SpiFlashModel::kWel);  // nothing started, write enable still held
    Command({0x04});
  }
  EXPECT_EQ(flash.ReadRange(0, flash.Size()), Bytes(flash.Size(), kFill));
  // A write enable followed by junk is not a write enable.
  Command({0x06, 0x00});
  EXPECT_EQ(Status(), 0x00);
}

TEST_F(FlashModelTest, ProtectBitsGuardTheTopOfTheArray) {
  // 512 KiB part, three BP bits: level n protects the top 64 KiB << (n - 1), level 4 and up all.
  const struct {
    std::uint8_t status;
    std::uint32_t protected_bytes;
  } cases[] = {
      {0x00, 0},       {0x04, 0x10000}, {0x08, 0x20000}, {0x0C, 0x40000},
      {0x10, 0x80000}, {0x1C, 0x80000}, {0x9C, 0x80000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << int{c.status});
    flash.Fill(kFill);
    WriteStatus(c.status);
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(flash.ProtectedBytes(), c.protected_bytes);
    const std::uint32_t first_protected = flash.Size() - c.protected_bytes;
    // The last page and sector below the protected area take writes, the first ones in it not.
    for (std::uint32_t address : {first_protected - 0x1000, first_protected}) {
      if (address >= flash.Size()) continue;
      const bool guarded = address >= first_protected;
      WriteEnable();
      Program(address, {0x00});
      Finish();
      EXPECT_EQ(flash.Peek(address), guarded ? kFill : 0x00) << std::hex << address;
      WriteEnable();
      SectorErase(address + 0x800);
      Finish();
      EXPECT_EQ(flash.Peek(address), guarded ? kFill : 0xFF) << std::hex << address;
      Command({0x04});
    }
    // Chip erase runs only with no protect bit at all.
    WriteEnable();
    Command({0xC7});
    Finish();
    EXPECT_EQ(flash.Peek(0), c.status & 0x1C ? kFill : 0xFF);
    Command({0x04});
  }
}

TEST_F(FlashModelTest, StatusFFProtectsEverythingUntilZeroIsWritten) {
  WriteStatus(0xFF);
  EXPECT_EQ(Status(), 0x9C);  // BP0-BP2 and SRWD; WIP and WEL are not writable
  WriteEnable();
  Command({0xC7});
  WriteEnable();
  Program(0x000000, {0x00});
  WriteEnable();
  SectorErase(0x000000);
  Finish();
  EXPECT_EQ(flash.ReadRange(0, flash.Size()), Bytes(flash.Size(), kFill));
  EXPECT_EQ(flash.ChipErases() + flash.PagePrograms() + flash.SectorErases(), 0u);
  // The refused commands left write enable set; without it the protection stays.
  EXPECT_EQ(Status(), 0x9C | SpiFlashModel::kWel);
  Command({0x04});
  Command({0x01, 0x00});
  EXPECT_EQ(Status(), 0x9C);
  WriteStatus(0x00);
  EXPECT_EQ(Status(), 0x00);
  WriteEnable();
  Command({0xC7});
  Finish();
  EXPECT_EQ(flash.Peek(0x7FFFF), 0xFF);
}

TEST_F(FlashModelTest, ReadsContinueAcrossPagesAndWrapAtTheEnd) {
  flash.WriteRange(0x7FFFE, {0x01, 0x02});
  flash.WriteRange(0x00000, {0x03});
  EXPECT_EQ(Read(0x7FFFE, 3), (Bytes{0x01, 0x02, 0x03}));
  // Address bits above the array are not decoded.
  EXPECT_EQ(Read(0xFFFFFE, 3), (Bytes{0x01, 0x02, 0x03}));
}

TEST_F(FlashModelTest, StuckBusyAndAbsentPartsNeverAnswer) {
  flash.SetStuckBusy(true);
  WriteEnable();
  EXPECT_EQ(Status(), SpiFlashModel::kWip);
  Finish();
  EXPECT_EQ(Status(), SpiFlashModel::kWip);
  EXPECT_EQ(Read(0, 1), Bytes{0xFF});
  flash.SetStuckBusy(false);
  EXPECT_EQ(Status(), 0x00);
  flash.SetAbsent(true);
  EXPECT_EQ(Command({0x9F}, 3), (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Status(), 0xFF);
  flash.SetAbsent(false);
  EXPECT_EQ(Command({0x9F}, 4), (Bytes{0xC2, 0x20, 0x13, 0xFF}));
}

// Every part of the table behaves as its row says: it answers its identifier, programs pages of
// its page size (the column wraps at the page's end), erases sectors of its sector size, has its
// protect bits, and stays busy for its chip erase time.
TEST(FlashPartTable, EveryPartBehavesAsItsRowSays) {
  for (const FlashPart& part : FlashParts()) {
    SCOPED_TRACE(FlashIdText(part.id));
    EXPECT_EQ(part.size, std::uint32_t{1} << part.id[2]);  // the capacity code is log2 of it
    VirtualClock clock;
    FlashConfig config;
    config.id = part.id;
    config.fill = kFill;
    SpiFlashModel flash(clock, config);
    EXPECT_EQ(flash.Size(), part.size);
    auto command = [&](const Bytes& out, std::size_t read = 0) { return Cycle(flash, out, read); };
    EXPECT_EQ(command({0x9F}, 3), Bytes(part.id.begin(), part.id.end()));

    // Two bytes from the last column of the second page: the second wraps to that page's start.
    const std::uint32_t last_column = 2 * part.page_size - 1;
    command({0x06});
    command({0x02, 0x00, static_cast<std::uint8_t>(last_column >> 8),
             static_cast<std::uint8_t>(last_column), 0x11, 0x22});
    EXPECT_EQ(command({0x05}, 1), Bytes{0x03});  // WIP and WEL during the cycle
    clock.Advance(part.times.page_program_us);
    EXPECT_EQ(flash.Peek(last_column), 0x11 & kFill);
    EXPECT_EQ(flash.Peek(part.page_size), 0x22 & kFill);
    EXPECT_EQ(flash.Peek(2 * part.page_size), kFill);

    // A sector erase clears exactly the sector that holds the address.
    const std::uint32_t inside = part.sector_size + part.sector_size / 2;
    command({0x06});
    command({0x20, static_cast<std::uint8_t>(inside >> 16), static_cast<std::uint8_t>(inside >> 8),
             static_cast<std::uint8_t>(inside)});
    clock.Advance(part.times.sector_erase_us);
    EXPECT_EQ(flash.ReadRange(part.sector_size, part.sector_size), Bytes(part.sector_size, 0xFF));
    EXPECT_EQ(flash.Peek(part.sector_size - 1), kFill);
    EXPECT_EQ(flash.Peek(part.page_size), 0x22 & kFill);  // the sector before kept its page
    EXPECT_EQ(flash.Peek(2 * part.sector_size), kFill);

    // Writing 0xFF sets the part's protect bits and SRWD, and guards the whole array.
    command({0x06});
    command({0x01, 0xFF});
    clock.Advance(part.times.write_status_us);
    EXPECT_EQ(command({0x05}, 1), Bytes{static_cast<std::uint8_t>(part.block_protect_bits | 0x80)});
    EXPECT_EQ(flash.ProtectedBytes(), part.size);
    // Level 1 guards the part's protect unit.
    command({0x06});
    command({0x01, 0x04});
    clock.Advance(part.times.write_status_us);
    EXPECT_EQ(flash.ProtectedBytes(), std::min(part.protect_unit, part.size));
    command({0x06});
    command({0x01, 0x00});
    clock.Advance(part.times.write_status_us);

    // The chip erase keeps the part busy for its time, to the microsecond.
    command({0x06});
    command({0xC7});
    clock.Advance(part.times.chip_erase_us - 1);
    EXPECT_EQ(command({0x05}, 1), Bytes{0x03});
    clock.Advance(1);
    EXPECT_EQ(command({0x05}, 1), Bytes{0x00});
    EXPECT_EQ(flash.ChipErases(), 1u);
  }
}

TEST(FlashPartTable, APartNotInTheTableIsRefused) {
  VirtualClock clock;
  for (const FlashId id : {FlashId{0xC2, 0x20, 0x1F}, FlashId{0xC2, 0x22, 0x13},
                           FlashId{0x00, 0x00, 0x00}, FlashId{0xFF, 0xFF, 0xFF}}) {
    SCOPED_TRACE(FlashIdText(id));
    EXPECT_EQ(FindFlashPart(id), nullptr);
    FlashConfig config;
    config.id = id;
    EXPECT_THROW(SpiFlashModel(clock, config), std::invalid_argument);
  }
  // The times of the table are the default; a configuration may give its own.
  FlashConfig config;
  config.times = FlashTimes{.chip_erase_us = 5};
  EXPECT_EQ(SpiFlashModel(clock, config).Times().chip_erase_us, 5u);
  EXPECT_EQ(SpiFlashModel(clock, FlashConfig{}).Times().chip_erase_us,
            FlashPartFor({0xC2, 0x20, 0x13}).times.chip_erase_us);
}

class SmallPartTest : public FlashModelTest {
 protected:
  SmallPartTest() : FlashModelTest(Part(0x22, 0x11)) {}
};

TEST_F(SmallPartTest, ProtectLevelsAreQuarters) {
  const std::uint32_t quarter = 32 * 1024;
  for (std::uint8_t level = 1; level <= 3; ++level) {
    WriteStatus(static_cast<std::uint8_t>(level << 2));
    EXPECT_EQ(flash.ProtectedBytes(), level == 3 ? 4 * quarter : quarter << (level - 1));
  }
  WriteStatus(0x10);  // BP2 does not exist here
  EXPECT_EQ(Status(), 0x00);
}

}  // namespace
}  // namespace velmora::sim
