// The virtual chip's strictness: every request, flash command and register access the real
// firmware or flash refuses must be refused here too, or the tool's tests would prove nothing.
// (What the chip does for the right requests is checked with the command set's tests.)
#include <optional>
#include <sstream>
#include <stdexcept>

#include "chip_bench.h"

namespace velmora::sim {
namespace {

using namespace test;
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

TEST_F(VirtualChipTest, OnlyExactRequestsAreAnsweredPiecesFormOneCommandAndTheReadBackIsGuarded) {
  Steps("K 00=0D 07=10 01=03");
  // bmRequestType, bRequest, wValue, wIndex, length (all hex), answered; in order, so the 0x82
  // of 255 bytes follows a read of 255 that 0x83 reported finished.
  std::istringstream rows(
      "43 80 0 1 1 1  43 80 0 0 100 1  C3 80 0 1 1 0  43 80 0 2 1 0  43 80 1 1 1 0  "
      "43 80 0 1 0 0  43 80 0 1 101 0  43 81 FF 1 4 1  43 81 3 0 1 0  43 81 100 1 4 0  "
      "43 81 3 1 2 0  C3 81 3 1 1 0  C3 83 0 0 1 1  C3 83 0 0 2 0  43 83 0 0 1 0  "
      "C3 83 0 1 1 0  C3 82 0 0 FF 1  43 82 0 0 1 0  C3 82 0 0 100 0  C3 82 0 0 0 0  "
      "C3 82 1 0 1 0  43 90 0 123 1 1  43 90 0 12 2 0  C3 90 0 12 1 0  43 90 1 12 1 0  "
      "C3 91 0 12 1 1  43 91 0 12 1 0  C3 91 1 12 1 0  C3 91 0 12 0 0  43 86 0 0 0 0  "
      "43 84 3B70 9E04 0 0  43 84 3B71 9E05 0 0  43 84 3B71 9E04 1 0  C3 84 3B71 9E04 0 0  "
      "43 85 3B71 9E04 0 0  43 85 6D2A C85E 1 0");
  unsigned type, request, value, index, length, ok;
  while (rows >> std::hex >> type >> request >> value >> index >> length >> ok) {
    Bytes data(length);
    EXPECT_EQ(Send(type, request, value, index, data), ok != 0)
        << std::hex << type << " " << request << " v" << value << " i" << index << " #" << length;
  }
  // No refused key changed the mode. Pieces with wIndex 0 keep chip-select asserted, also across
  // a refused last piece. 0x82 hands out only what the last 0x81 read, once 0x83 said it
  // finished; a refused 0x81 changes nothing.
  EXPECT_TRUE(Out(0x80, 0, 1, {0x06}) && Out(0x80, 0, 0, {0x02, 0x00, 0x01}));
  chip.FailNextTransfers(1);
  EXPECT_FALSE(Out(0x80, 0, 1, {0x00, 0x11}) || chip.Flash().PagePrograms() != 0);
  EXPECT_TRUE(Out(0x80, 0, 1, {0x00, 0x11}) && chip.Flash().PagePrograms() == 1 && Idle());
  chip.SetSpiReadyDelayUs(500);
  Bytes ready(1), got(2), three(3);
  EXPECT_TRUE(Out(0x81, 2, 1, {0x03, 0x00, 0x01, 0x00}));
  EXPECT_FALSE(In(0x82, got));                                        // not asked whether finished
  EXPECT_FALSE(In(0x83, ready) && (ready[0] != 0 || In(0x82, got)));  // asked too early
  clock.Advance(500);
  EXPECT_TRUE(In(0x83, ready) && ready[0] == 1 && !In(0x82, three));  // no more than was read
  EXPECT_FALSE(Out(0x81, 3, 1, {0x9F, 0x00}));
  EXPECT_TRUE(In(0x82, got) && got == Bytes({0x11 & kFill, kFill}));
  EXPECT_TRUE(Out(0x81, 1, 1, {0x05}));
  clock.Advance(500);
  EXPECT_TRUE(In(0x83, ready) && !In(0x82, got));  // the older, longer answer is gone
  // Losing power ends ISP mode, drops chip-select and write enable.
  EXPECT_TRUE(Out(0x80, 0, 1, {0x06}) && Out(0x80, 0, 0, {0x02}));
  chip.Unplug();
  EXPECT_FALSE(chip.InIspMode() || chip.Flash().Selected() || chip.Flash().Status() != 0);
}

// The firmware hands the serial bus over only for the entry key followed by the bank 0x0D
// set-up, in either order; until then 0x80/0x81 are accepted but reach nothing, 0x83 answers 0
// and 0x82 stalls.
TEST_F(VirtualChipTest, FlashIsReachedOnlyAfterTheKeyAndTheWholeSetUp) {
  for (const std::string row :
       {"- K", "- K 00=0D 07=10", "- K 00=0D 01=03", "+ K 00=0D 01=03 07=10",
        "- 00=0D 07=10 01=03 K", "- K 00=0E 07=10 01=03", "- K 00=0D 07=11 01=03",
        "- K 00=0D 07=10 01=03 X", "- K 00=0D 07=10 01=03 07=00", "+ K 00=0D 07=10 01=03 K"}) {
    SCOPED_TRACE(row);
    const bool reachable = row[0] == '+';
    Steps("X 00=0D 07=00 01=00 " + row.substr(2));
    EXPECT_EQ(chip.FlashReachable(), reachable);
    chip.Flash().Fill(kFill);
    EXPECT_TRUE(Out(0x80, 0, 1, {0x06}) && Out(0x80, 0, 1, {0x02, 0x00, 0x00, 0x10, 0x00}) &&
                Idle());
    EXPECT_EQ(chip.Flash().Peek(0x10), reachable ? 0x00 : kFill);
    Bytes ready(1), id(3);
    EXPECT_TRUE(Out(0x81, 3, 1, {0x9F}) && In(0x83, ready));
    EXPECT_TRUE(ready[0] == reachable && In(0x82, id) == reachable);
  }
}

// Each bank keeps its own table; the engine acts in bank 0x0E only and the mailbox in bank
// 0x00 only, where a string chunk past the field's end is ignored. After each byte the engine's
// status reads 0x08 (busy) for n reads; the acknowledge and the received byte show only with
// done. A byte goes out only when written after a go, which one send uses; a stop drops a start
// that no byte followed.
TEST_F(VirtualChipTest, RegistersActInTheirBankAndTheEngineShowsResultsOnlyWithDone) {
  ChipRegisters& r = regs();
  r.default_slave().SetReg(0x00, 0x5A);
  r.i2c_engine().SetDoneAfterStatusReads(2);
  Steps("00=05 42=77 00=0D 90=10 10=C0 14=01 12=20 00=00 93=41 91=10 92=04 90=10");
  clock.Advance(100'000);
  EXPECT_TRUE(r.Peek(0x05, 0x42) == 0x77 && r.mailbox_starts().size() == 1);
  EXPECT_EQ(r.mailbox_items().strings[1][0], 0x00);
  Steps("91=07 90=30");  // the HID key handshake: 0x31 after 5 ms
  clock.Advance(4999);
  EXPECT_EQ(r.Read(0x90), 0x30);
  clock.Advance(1);
  EXPECT_EQ(r.Read(0x90), 0x31);
  Steps("00=0E 10=C0 12=20 14=01 12=20 12=44 10=C0 10=A0 10=C0 14=01 12=21");
  EXPECT_EQ(r.i2c_bus().events(), (std::vector<E>{E::Start(), E::Address(0x20), E::Stop(),
                                                  E::Start(), E::Address(0x21)}));
  for (const int status : {0x08, 0x08, 0x01}) EXPECT_EQ(r.Read(0x10), status);
  Steps("10=90 14=03");
  EXPECT_EQ(r.Read(0x13), 0xFF);  // the byte before, until done
  for (const int status : {0x08, 0x08, 0x01}) EXPECT_EQ(r.Read(0x10), status);
  EXPECT_EQ(r.Read(0x13), 0x5A);
}

// The flash on its own, driven over its serial bus as the bridge drives it.
class FlashModelTest : public ::testing::Test {
 protected:
  void Use(FlashId id) { flash.emplace(clock, TestFlash(id)); }
  // One chip-select cycle; returns the byte that came back for each byte sent.
  Bytes Command(Bytes out, std::uint64_t then_us = 0) {
    flash->Select();
    for (std::uint8_t& byte : out) byte = flash->Transfer(byte);
    flash->Deselect();
    clock.Advance(then_us);
    return out;
  }
  std::uint8_t Status() { return Command({0x05, 0xFF})[1]; }
  // With write enable; by default to the end of its cycle.
  void Enabled(const Bytes& out, std::uint64_t then_us = 100'000'000) {
    Command({0x06});
    Command(out, then_us);
  }
  static Bytes Op(std::uint8_t op, std::uint32_t at, Bytes data = {}) {
    data.insert(data.begin(),
                {op, std::uint8_t(at >> 16), std::uint8_t(at >> 8), std::uint8_t(at)});
    return data;
  }
  bool Blank() { return flash->ReadRange(0, flash->Size()) == Bytes(flash->Size(), kFill); }

  VirtualClock clock;
  std::optional<SpiFlashModel> flash{std::in_place, clock, TestFlash()};
};

// Write commands need write enable (write disable takes it back) and their exact length; they
// hold write enable through a cycle of the part's time and consume it at its end.
TEST_F(FlashModelTest, WriteCommandsNeedWriteEnableAndTheirLengthAndABusyPartHearsOnlyReadStatus) {
  for (const auto& [command, busy_us] : {std::pair{Bytes{0x02, 0x00, 0x01, 0x00, 0x12}, 1000},
                                         {Bytes{0x20, 0x00, 0x10, 0x00}, 60000},
                                         {Bytes{0xC7}, 2'000'000},
                                         {Bytes{0x60}, 2'000'000},
                                         {Bytes{0x01, 0x1C}, 10000}}) {
    SCOPED_TRACE(Hex(command));
    for (const Bytes& step : {command, Bytes{0x06, 0x00}, command}) Command(step);
    EXPECT_TRUE(Status() == 0x00 && Blank());
    Enabled(command, busy_us - 1);
    EXPECT_EQ(Status() & 0x03, 0x03);
    clock.Advance(1);
    EXPECT_EQ(Status() & 0x03, 0x00);
    flash->Fill(kFill);
    flash->SetStatus(0x00);
  }
  for (const Bytes& command :
       {Bytes{0x20, 0x00, 0x10}, Bytes{0x20, 0x00, 0x10, 0x00, 0x00}, Bytes{0x02, 0x00, 0x00, 0x00},
        Bytes{0xC7, 0x00}, Bytes{0x01}, Bytes{0x01, 0x00, 0x00}, Bytes{0x04, 0x00}, Bytes{0xAB}}) {
    flash->SetStatus(SpiFlashModel::kWel);
    Command(command);
    EXPECT_TRUE(Status() == SpiFlashModel::kWel && Blank()) << Hex(command);  // nothing started
  }
  // While a cycle runs only read status is heard, live for as long as it is clocked. Page program
  // only clears bits, wraps inside its page and keeps the last page of bytes sent.
  Enabled(Op(0x02, 0x410, {0x5A}));
  Enabled(Op(0x02, 0x410, {0xFF}), 0);
  EXPECT_EQ(Command({0x9F, 0, 0, 0}), Bytes(4, 0xFF));
  EXPECT_EQ(Command(Op(0x03, 0x410, {0}))[4], 0xFF);
  Enabled(Op(0x20, 0x400), 0);
  Command({0x04});
  flash->Select();
  flash->Transfer(0x05);
  EXPECT_EQ(flash->Transfer(0xFF), 0x03);
  clock.Advance(1000);
  EXPECT_EQ(flash->Transfer(0xFF), 0x00);
  flash->Deselect();
  EXPECT_EQ(flash->Peek(0x410), 0x5A & kFill);  // programming 0xFF brought no bit back
}

// Protect level n guards the top 64 KiB << (n - 1), the highest level everything; chip erase
// runs only with no protect bit set. A command refused for protection leaves write enable set.
TEST_F(FlashModelTest, ProtectBitsGuardTheTopOfTheArray) {
  for (const auto& [status, guarded] :
       {std::pair{0x00, 0x00000}, {0x04, 0x10000}, {0x0C, 0x40000}, {0x9C, 0x80000}}) {
    SCOPED_TRACE(status);
    flash->Fill(kFill);
    Enabled({0x01, std::uint8_t(status)});
    EXPECT_EQ(Status(), status);
    const std::uint32_t first = flash->Size() - guarded;
    for (const std::uint32_t at : {first - 0x1000, first}) {
      if (at >= flash->Size()) continue;
      Enabled(Op(0x02, at, {0x00}));
      EXPECT_TRUE(flash->Peek(at) == (at < first ? 0x00 : kFill) &&
                  (Status() & SpiFlashModel::kWel) == (at < first ? 0 : SpiFlashModel::kWel));
      Enabled(Op(0x20, at + 0x800));
      EXPECT_EQ(flash->Peek(at), at < first ? 0xFF : kFill);
    }
    Enabled({0xC7});
    EXPECT_EQ(flash->Peek(0), status & 0x1C ? kFill : 0xFF);
    Enabled({0x01, 0x00});
  }
}

// Every part of the table answers its id, wraps its page, has its protect bits and unit and
// stays busy for its chip erase time; an id not in the table is refused.
TEST_F(FlashModelTest, EveryPartOfTheTableBehavesAsItsRowSays) {
  for (const FlashPart& part : FlashParts()) {
    SCOPED_TRACE(FlashIdText(part.id));
    Use(part.id);
    EXPECT_EQ(Command({0x9F, 0, 0, 0}), (Bytes{0xFF, part.id[0], part.id[1], part.id[2]}));
    // From the page's last column a page and two bytes: the column wraps to the page's start,
    // and the last bytes for a column replace the first.
    Bytes data(part.page_size + 2, 0xFF);
    data.front() = 0x11, data[part.page_size] = 0x22, data.back() = 0x44;
    Enabled(Op(0x02, 2 * part.page_size - 1, data));
    EXPECT_EQ(flash->ReadRange(part.page_size - 1, 3), Bytes({kFill, 0x44 & kFill, kFill}));
    EXPECT_EQ(flash->Peek(2 * part.page_size - 1), 0x22 & kFill);
    Enabled({0x01, 0xFF});
    EXPECT_EQ(Status(), part.block_protect_bits | 0x80);
    flash->SetStatus(0x04);
    EXPECT_EQ(flash->ProtectedBytes(), part.protect_unit);
    flash->SetStatus(0x00);
    Enabled({0xC7}, part.times.chip_erase_us - 1);
    EXPECT_EQ(Status(), 0x03);
  }
  EXPECT_THROW(Use({0xC2, 0x22, 0x13}), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::sim
