// The virtual chip's strictness: every request, flash command and register access the real
// firmware or flash refuses must be refused here too, or the tool's tests would prove nothing.
#include <sstream>
#include <stdexcept>

#include "chip_bench.h"

namespace velmora::sim {
namespace {

using test::Bytes;
using test::kFill;
using E = I2cBusEvent;

class VirtualChipTest : public test::ChipBench {
 protected:
  // "K" the entry key, "X" the exit key, "RR=VV" a register write, in order.
  void Steps(const std::string& steps) {
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
      if (s == "K") Out(0x84, 0x3B71, 0x9E04, {});
      if (s == "X") Out(0x85, 0x6D2A, 0xC85E, {});
      if (s.size() == 5)
        Out(0x90, 0, std::stoi(s, nullptr, 16),
            {std::uint8_t(std::stoi(s.substr(3), nullptr, 16))});
    }
  }
  bool In(std::uint8_t request, Bytes& answer) { return Send(0xC3, request, 0, 0, answer); }
};

TEST_F(VirtualChipTest, OnlyExactSetupValuesAndLengthsAreAnswered) {
  Steps("K 00=0D 07=10 01=03");
  const struct {
    std::uint8_t type, request;
    std::uint16_t value, index;
    std::uint32_t length;
    bool ok;
  } cases[] = {
      {0x43, 0x80, 0, 1, 1, true},
      {0x43, 0x80, 0, 0, 256, true},
      {0xC3, 0x80, 0, 1, 1, false},
      {0x43, 0x80, 0, 2, 1, false},
      {0x43, 0x80, 1, 1, 1, false},
      {0x43, 0x80, 0, 1, 0, false},
      {0x43, 0x80, 0, 1, 257, false},
      {0x43, 0x81, 255, 1, 4, true},
      {0x43, 0x81, 3, 0, 1, false},
      {0x43, 0x81, 256, 1, 4, false},
      {0x43, 0x81, 3, 1, 2, false},
      {0xC3, 0x81, 3, 1, 1, false},
      {0xC3, 0x83, 0, 0, 1, true},
      {0xC3, 0x83, 0, 0, 2, false},
      {0x43, 0x83, 0, 0, 1, false},
      {0xC3, 0x83, 0, 1, 1, false},
      {0xC3, 0x82, 0, 0, 255, true},
      {0x43, 0x82, 0, 0, 1, false},
      {0xC3, 0x82, 0, 0, 256, false},
      {0xC3, 0x82, 0, 0, 0, false},
      {0xC3, 0x82, 1, 0, 1, false},
      {0x43, 0x90, 0, 0x123, 1, true},
      {0x43, 0x90, 0, 0x12, 2, false},
      {0xC3, 0x90, 0, 0x12, 1, false},
      {0x43, 0x90, 1, 0x12, 1, false},
      {0xC3, 0x91, 0, 0x12, 1, true},
      {0x43, 0x91, 0, 0x12, 1, false},
      {0xC3, 0x91, 1, 0x12, 1, false},
      {0xC3, 0x91, 0, 0x12, 0, false},
      {0x43, 0x86, 0, 0, 0, false},
      {0x43, 0x84, 0x3B70, 0x9E04, 0, false},
      {0x43, 0x84, 0x3B71, 0x9E05, 0, false},
      {0x43, 0x84, 0x3B71, 0x9E04, 1, false},
      {0xC3, 0x84, 0x3B71, 0x9E04, 0, false},
      {0x43, 0x85, 0x3B71, 0x9E04, 0, false},
      {0x43, 0x85, 0x6D2A, 0xC85E, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << int{c.request} << " v" << c.value << " i" << c.index << " type "
                 << int{c.type} << " length " << c.length);
    Bytes data(c.length);
    EXPECT_EQ(Send(c.type, c.request, c.value, c.index, data), c.ok);
  }
  EXPECT_TRUE(chip.FlashReachable());  // no wrong key changed the mode
}

// The firmware hands the serial bus over only for the entry key followed by the bank 0x0D
// set-up, in either order; until then 0x80/0x81 are accepted but reach nothing, 0x83 answers 0
// and 0x82 stalls.
TEST_F(VirtualChipTest, FlashIsReachedOnlyAfterTheKeyAndTheWholeSetUp) {
  const struct {
    const char* steps;
    bool reachable;
  } cases[] = {{"K", false},
               {"K 00=0D 07=10", false},
               {"K 00=0D 01=03", false},
               {"K 00=0D 01=03 07=10", true},
               {"00=0D 07=10 01=03 K", false},
               {"K 00=0E 07=10 01=03", false},
               {"K 00=0D 07=11 01=03", false},
               {"K 00=0D 07=10 01=03 X", false},
               {"K 00=0D 07=10 01=03 07=00", false},
               {"K 00=0D 07=10 01=03 K", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    Steps(std::string("X 00=0D 07=00 01=00 ") + c.steps);
    EXPECT_EQ(chip.FlashReachable(), c.reachable);
    chip.Flash().Fill(kFill);
    EXPECT_TRUE(Out(0x80, 0, 1, {0x06}) && Out(0x80, 0, 1, {0x02, 0x00, 0x00, 0x10, 0x00}));
    WaitIdle();
    EXPECT_EQ(chip.Flash().Peek(0x10), c.reachable ? 0x00 : kFill);
    Bytes ready(1), id(3);
    EXPECT_TRUE(Out(0x81, 3, 1, {0x9F}) && In(0x83, ready));
    EXPECT_EQ(ready[0], c.reachable ? 1 : 0);
    EXPECT_EQ(In(0x82, id), c.reachable);
  }
}

// Pieces with wIndex 0 keep chip-select asserted, also across a refused last piece. 0x82 hands
// out only what the last 0x81 read, once 0x83 said it finished; a refused 0x81 changes nothing.
TEST_F(VirtualChipTest, PiecesFormOneCommandAndTheReadBackIsGuarded) {
  Steps("K 00=0D 07=10 01=03");
  Out(0x80, 0, 1, {0x06});
  Out(0x80, 0, 0, {0x02, 0x00, 0x01});
  chip.FailNextTransfers(1);
  EXPECT_FALSE(Out(0x80, 0, 1, {0x00, 0x11}));
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);
  Out(0x80, 0, 1, {0x00, 0x11});
  WaitIdle();
  EXPECT_EQ(chip.Flash().ReadRange(0x100, 2), (Bytes{0x11 & kFill, kFill}));

  chip.SetSpiReadyDelayUs(500);
  Bytes ready(1), got(2);
  EXPECT_TRUE(Out(0x81, 2, 1, {0x03, 0x00, 0x01, 0x00}));
  EXPECT_FALSE(In(0x82, got));  // not asked whether finished
  EXPECT_TRUE(In(0x83, ready));
  EXPECT_FALSE(ready[0] != 0 || In(0x82, got));  // asked too early
  clock.Advance(500);
  EXPECT_TRUE(In(0x83, ready) && ready[0] == 1);
  Bytes three(3);
  EXPECT_FALSE(In(0x82, three));  // more than was read
  EXPECT_TRUE(In(0x82, got));
  EXPECT_EQ(got, (Bytes{0x11 & kFill, kFill}));
  EXPECT_FALSE(Out(0x81, 3, 1, {0x9F, 0x00}));
  EXPECT_TRUE(In(0x82, got));
  EXPECT_TRUE(Out(0x81, 1, 1, {0x05}));
  clock.Advance(500);
  EXPECT_TRUE(In(0x83, ready) && !In(0x82, got));  // the older, longer answer is gone
}

TEST_F(VirtualChipTest, InjectedFaults) {
  chip.FailNextTransfers(1);
  EXPECT_FALSE(Out(0x84, 0x3B71, 0x9E04, {}));
  EXPECT_FALSE(chip.InIspMode());
  Steps("K 00=0D 07=10 01=03");
  Bytes id(3);
  chip.FlipReadBits(0x01, VirtualChip::Flip::Once, 2);
  for (const Bytes& expected : {Bytes{0xC2, 0x20, 0x12}, Bytes{0xC2, 0x20, 0x13}}) {
    Out(0x81, 3, 1, {0x9F});
    Bytes ready(1);
    In(0x83, ready);
    EXPECT_TRUE(In(0x82, id));
    EXPECT_EQ(id, expected);
  }
  chip.SetNeverReady(true);
  Bytes ready(1);
  EXPECT_TRUE(In(0x83, ready) && ready[0] == 0);
  chip.SetNeverReady(false);

  chip.SetTransferLatencyUs(250);
  const std::uint64_t before = chip.NowUs();
  chip.UnplugAfterTransfers(2);
  EXPECT_TRUE(Out(0x80, 0, 1, {0x06}) && Out(0x80, 0, 0, {0x02, 0x00, 0x00, 0x00}));
  EXPECT_FALSE(Out(0x80, 0, 1, {0x00}));
  EXPECT_EQ(chip.NowUs() - before, 750u);
  // Power went with the plug: ISP mode, write enable and the open command are lost.
  EXPECT_FALSE(chip.InIspMode() || chip.Flash().Selected());
  EXPECT_EQ(chip.Flash().Status(), 0x00);
  EXPECT_FALSE(usb.CheckPresence() || usb.Open());
  chip.Replug();
  EXPECT_TRUE(usb.FindDevice() && usb.Open());
  chip.SetProbeFails(true);
  EXPECT_FALSE(usb.FindDevice());
}

// The bank select reads back in every bank, each bank has its own table, the engine lives in
// bank 0x0E and the mailbox in bank 0x00 only.
TEST_F(VirtualChipTest, RegisterBanks) {
  Steps("00=05 42=77 00=0D 90=10 14=01 12=20 00=0E 42=00");
  EXPECT_EQ(regs().Peek(0x05, 0x42), 0x77);
  EXPECT_EQ(regs().Peek(0x0E, 0x42), 0x00);
  EXPECT_EQ(regs().bank(), 0x0E);
  EXPECT_TRUE(regs().i2c_bus().events().empty());
  clock.Advance(100'000);
  EXPECT_TRUE(regs().mailbox_starts().empty());
  Steps("00=00 93=41 91=10 92=04 90=10");  // a string chunk past the field's end is ignored
  clock.Advance(100'000);
  EXPECT_EQ(regs().Read(0x90), 0xEE);
  EXPECT_EQ(regs().mailbox_items().strings[1][0], 0x00);
}

// After each byte the status reads "busy" (0x08) for n reads; the acknowledge and the received
// byte show only with done. A byte goes out only when written after a go, which one send uses.
TEST_F(VirtualChipTest, TheI2cEngineShowsResultsOnlyWithDone) {
  ChipRegisters& r = regs();
  r.default_slave().SetReg(0x00, 0x5A);
  r.i2c_engine().SetDoneAfterStatusReads(2);
  r.Write(0x00, 0x0E);
  r.Write(0x10, 0xC0);
  r.Write(0x12, 0x20);
  r.Write(0x14, 0x01);
  EXPECT_TRUE(r.i2c_bus().events().empty());
  for (const std::uint8_t byte : {0x20, 0x44, 0x00}) r.Write(0x12, byte);
  r.Write(0x10, 0xC0);
  r.Write(0x10, 0xA0);  // a stop drops a start no byte followed
  EXPECT_EQ(r.i2c_bus().events(), (std::vector<E>{E::Start(), E::Address(0x20), E::Stop()}));
  r.Write(0x10, 0xC0);
  r.Write(0x14, 0x01);
  r.Write(0x12, 0x21);
  EXPECT_EQ(r.Read(0x10), 0x08);
  EXPECT_EQ(r.Read(0x10), 0x08);
  EXPECT_EQ(r.Read(0x10), 0x01);
  r.Write(0x10, 0x90);
  r.Write(0x14, 0x03);
  EXPECT_EQ(r.Read(0x13), 0xFF);  // the byte before until done
  r.Read(0x10);
  r.Read(0x10);
  EXPECT_EQ(r.Read(0x10), 0x01);
  EXPECT_EQ(r.Read(0x13), 0x5A);
}

TEST_F(VirtualChipTest, MailboxAndHidKeyAnswerAfterTheirDelays) {
  regs().Write(0x00, 0x00);
  regs().Write(0x90, 0x10);
  regs().Write(0x90, 0x00);  // withdrawn before the firmware took it
  clock.Advance(100'000);
  EXPECT_EQ(regs().Read(0x90), 0x00);
  regs().Write(0x91, 0x07);
  regs().Write(0x90, 0x30);
  clock.Advance(4999);
  EXPECT_EQ(regs().Read(0x90), 0x30);
  clock.Advance(1);
  EXPECT_EQ(regs().Read(0x90), 0x31);
  regs().SetHidNeverAnswers(true);
  regs().Write(0x90, 0x30);
  clock.Advance(1'000'000);
  EXPECT_EQ(regs().Read(0x90), 0x30);
  EXPECT_EQ(regs().hid_keys_sent(), (std::vector<std::uint8_t>{0x07, 0x07}));
}

// The flash on its own, driven over its serial bus as the bridge drives it.
class FlashModelTest : public ::testing::Test {
 protected:
  Bytes Command(const Bytes& out, std::size_t read = 0) {
    flash.Select();
    for (const std::uint8_t byte : out) flash.Transfer(byte);
    Bytes answer;
    for (std::size_t i = 0; i < read; ++i) answer.push_back(flash.Transfer(0xFF));
    flash.Deselect();
    return answer;
  }
  std::uint8_t Status() { return Command({0x05}, 1)[0]; }
  static Bytes Op(std::uint8_t op, std::uint32_t at, const Bytes& tail = {}) {
    Bytes out{op, std::uint8_t(at >> 16), std::uint8_t(at >> 8), std::uint8_t(at)};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  }
  // With write enable, to the end of its cycle.
  void Enabled(const Bytes& out) {
    Command({0x06});
    Command(out);
    clock.Advance(100'000'000);
  }
  bool Blank() { return flash.ReadRange(0, flash.Size()) == Bytes(flash.Size(), kFill); }

  VirtualClock clock;
  SpiFlashModel flash{clock, test::TestFlash()};
};

// Write commands need write enable (write disable takes it back), hold it through their cycle
// of the part's time, and consume it at its end.
TEST_F(FlashModelTest, WriteCommandsNeedWriteEnableAndTakeThePartsTime) {
  const struct {
    Bytes command;
    std::uint64_t busy_us;
  } cases[] = {{{0x02, 0x00, 0x01, 0x00, 0x12}, 1000},
               {{0x20, 0x00, 0x10, 0x00}, 60000},
               {{0xC7}, 2'000'000},
               {{0x60}, 2'000'000},
               {{0x01, 0x1C}, 10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(test::Hex(c.command));
    flash.SetStatus(0x00);
    Command(c.command);
    Command({0x06});
    Command({0x04});
    Command(c.command);
    EXPECT_EQ(Status(), 0x00);
    EXPECT_TRUE(Blank());
    Command({0x06});
    Command(c.command);
    clock.Advance(c.busy_us - 1);
    EXPECT_EQ(Status() & 0x03, 0x03);
    clock.Advance(1);
    EXPECT_EQ(Status() & 0x03, 0x00);
    flash.Fill(kFill);
  }
}

TEST_F(FlashModelTest, CommandsCutShortOrRunLongAreDropped) {
  for (const Bytes& command :
       {Bytes{0x20, 0x00, 0x10}, Bytes{0x20, 0x00, 0x10, 0x00, 0x00}, Bytes{0x02, 0x00, 0x00, 0x00},
        Bytes{0xC7, 0x00}, Bytes{0x01}, Bytes{0x01, 0x00, 0x00}, Bytes{0xAB}}) {
    SCOPED_TRACE(test::Hex(command));
    flash.SetStatus(SpiFlashModel::kWel);
    Command(command);
    EXPECT_EQ(Status(), SpiFlashModel::kWel);  // nothing started, write enable still held
  }
  EXPECT_TRUE(Blank());
  Command({0x04, 0x00});
  Command({0x06, 0x00});
  EXPECT_EQ(Status(), SpiFlashModel::kWel);
}

// While a cycle runs only read status is heard, live for as long as it is clocked.
TEST_F(FlashModelTest, ABusyPartHearsOnlyReadStatus) {
  Command({0x06});
  Command({0x02, 0x00, 0x00, 0x00, 0x11});
  EXPECT_EQ(Command({0x9F}, 3), Bytes(3, 0xFF));
  EXPECT_EQ(Command({0x03, 0x00, 0x00, 0x00}, 1), Bytes{0xFF});
  Command({0x06});
  Command({0x02, 0x00, 0x00, 0x01, 0x22});
  Command({0x04});
  flash.Select();
  flash.Transfer(0x05);
  EXPECT_EQ(flash.Transfer(0xFF), 0x03);
  clock.Advance(1000);
  EXPECT_EQ(flash.Transfer(0xFF), 0x00);
  flash.Deselect();
  EXPECT_EQ(flash.ReadRange(0, 2), (Bytes{0x11 & kFill, kFill}));
  flash.SetStuckBusy(true);
  EXPECT_EQ(Status(), SpiFlashModel::kWip);
  flash.SetStuckBusy(false);
  flash.SetAbsent(true);
  EXPECT_EQ(Command({0x9F}, 3), Bytes(3, 0xFF));
}

// Page program only clears bits; the column wraps inside the page and of more than a page of
// bytes only the last page-size ones count.
TEST_F(FlashModelTest, PageProgramClearsBitsAndKeepsTheLastPageOfBytes) {
  Bytes command = {0x02, 0x00, 0x04, 0x10};
  for (int i = 0; i < 300; ++i) command.push_back(static_cast<std::uint8_t>(i * 7));
  Enabled(command);
  Enabled({0x02, 0x00, 0x04, 0x10, 0xFF});
  const Bytes page = flash.ReadRange(0x400, 256);
  for (std::size_t column = 0; column < 256; ++column) {
    const std::size_t sent =
        (column + 256 - 0x10) % 256 + (column >= 0x10 && column < 0x10 + 44 ? 256 : 0);
    ASSERT_EQ(page[column], command[4 + sent] & kFill) << column;
  }
  // Reads go on across the array's end; address bits above it are not decoded.
  flash.WriteRange(0x7FFFF, {0x01});
  EXPECT_EQ(Command({0x03, 0xFF, 0xFF, 0xFF}, 2), (Bytes{0x01, kFill}));
}

// Protect level n guards the top 64 KiB << (n - 1), the highest level everything; chip erase
// runs only with no protect bit set. A command refused for protection leaves write enable set.
TEST_F(FlashModelTest, ProtectBitsGuardTheTopOfTheArray) {
  const struct {
    std::uint8_t status;
    std::uint32_t guarded;
  } cases[] = {{0x00, 0}, {0x04, 0x10000}, {0x0C, 0x40000}, {0x10, 0x80000}, {0x9C, 0x80000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.status});
    flash.Fill(kFill);
    Enabled({0x01, c.status});
    EXPECT_EQ(Status(), c.status);
    const std::uint32_t first = flash.Size() - c.guarded;
    for (const std::uint32_t at : {first - 0x1000, first}) {
      if (at >= flash.Size()) continue;
      Enabled(Op(0x02, at, {0x00}));
      EXPECT_EQ(flash.Peek(at), at < first ? 0x00 : kFill);
      EXPECT_EQ(Status() & SpiFlashModel::kWel, at < first ? 0 : SpiFlashModel::kWel);
      Enabled(Op(0x20, at + 0x800));
      EXPECT_EQ(flash.Peek(at), at < first ? 0xFF : kFill);
    }
    Enabled({0xC7});
    EXPECT_EQ(flash.Peek(0), c.status & 0x1C ? kFill : 0xFF);
    Enabled({0x01, 0x00});
  }
}

// Every part of the table answers its id, wraps its page, erases its sector, has its protect
// bits and stays busy for its chip erase time; an id not in the table is refused.
TEST(FlashPartTable, EveryPartBehavesAsItsRowSays) {
  for (const FlashPart& part : FlashParts()) {
    SCOPED_TRACE(FlashIdText(part.id));
    VirtualClock clock;
    FlashConfig config;
    config.id = part.id;
    config.fill = kFill;
    SpiFlashModel flash(clock, config);
    auto command = [&](Bytes out, std::uint64_t wait_us = 0) {
      flash.Select();
      Bytes answer;
      for (const std::uint8_t byte : out) answer.push_back(flash.Transfer(byte));
      flash.Deselect();
      clock.Advance(wait_us);
      return answer;
    };
    EXPECT_EQ(flash.Size(), std::uint32_t{1} << part.id[2]);
    EXPECT_EQ(command({0x9F, 0, 0, 0}), (Bytes{0xFF, part.id[0], part.id[1], part.id[2]}));
    const std::uint32_t last = 2 * part.page_size - 1, inside = part.sector_size * 3 / 2;
    command({0x06});
    command({0x02, 0x00, std::uint8_t(last >> 8), std::uint8_t(last), 0x11, 0x22}, 1000);
    EXPECT_EQ(flash.Peek(part.page_size), 0x22 & kFill);
    command({0x06});
    command({0x20, std::uint8_t(inside >> 16), std::uint8_t(inside >> 8), std::uint8_t(inside)},
            60000);
    EXPECT_EQ(flash.ReadRange(part.sector_size, part.sector_size), Bytes(part.sector_size, 0xFF));
    EXPECT_EQ(flash.Peek(part.sector_size - 1), kFill);
    command({0x06});
    command({0x01, 0xFF}, 10000);
    EXPECT_EQ(command({0x05, 0})[1], part.block_protect_bits | 0x80);
    command({0x06});
    command({0x01, 0x04}, 10000);
    EXPECT_EQ(flash.ProtectedBytes(), part.protect_unit);
    command({0x06});
    command({0x01, 0x00}, 10000);
    command({0x06});
    command({0xC7}, part.times.chip_erase_us - 1);
    EXPECT_EQ(command({0x05, 0})[1], 0x03);
    clock.Advance(1);
    EXPECT_EQ(command({0x05, 0})[1], 0x00);
  }
  VirtualClock clock;
  FlashConfig unknown;
  unknown.id = {0xC2, 0x22, 0x13};
  EXPECT_THROW(SpiFlashModel(clock, unknown), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::sim
