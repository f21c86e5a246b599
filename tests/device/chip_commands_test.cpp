// The chip command set against the strict virtual chip: each test checks the wire (requests,
// bytes, polls and pauses, in short words) and what the command did to the chip. And the audio
// driver's property request byte by byte, with its refusals. (The generic driver's records, the
// probes, the control codes and the request sizes are checked at the Windows calls.)
#include <algorithm>
#include <string>

#include "chip_bench.h"
#include "wire_formats.h"

namespace velmora {
namespace {

using E = sim::I2cBusEvent;
using Events = std::vector<E>;
using namespace test;

std::string Times(int n, const std::string& word) {
  std::string out;
  while (n-- > 0) out += word;
  return out;
}

class ChipCommandsTest : public ChipBench {
 protected:
  sim::I2cSlave& slave() { return regs().default_slave(); }
  const Events& bus() { return regs().i2c_bus().events(); }
};

TEST_F(ChipCommandsTest, IspKeysWriteTheSetUpEvenWhenAKeyFailsAndRegisterRequestsAndEngineSetUp) {
  EXPECT_TRUE(IspEnter(link) && chip.FlashReachable() && IspExit(link) && !chip.InIspMode());
  EXPECT_EQ(Trace(), "84v3B71i9E04: W00=0D W07=10 W01=03 85v6D2AiC85E: W00=0D W07=00");
  chip.FailRequest(request::kIspEnter);
  chip.FailRequest(request::kIspExit);
  EXPECT_FALSE(IspEnter(link) || IspExit(link));
  EXPECT_EQ(Trace(), "84v3B71i9E04:! W00=0D W07=10 W01=03 85v6D2AiC85E:! W00=0D W07=00");
  regs().SetStatus(0x05, 0x42, 0x03);
  std::uint8_t value = 0;
  EXPECT_TRUE(RegSelectBank(link, 0x00) && RegRead(link, 0xA6, value) && value == 0x03);
  EXPECT_TRUE(RegWrite(link, 0x0123, 0x5A) && regs().Peek(0x00, 0x23) == 0x5A);
  EXPECT_TRUE(I2cMasterSetup(link) && regs().i2c_engine().setup() == 0x04);
  EXPECT_EQ(Trace(), "W00=00 RA6=03 W123=5A W00=0E W11=04");
  // The set-up answers for its last write only.
  chip.FailNextTransfers(1);
  EXPECT_TRUE(I2cMasterSetup(link));
  chip.FailRequest(request::kRegWrite);
  EXPECT_FALSE(I2cMasterSetup(link));
  chip.FailRequest(request::kRegRead);
  EXPECT_FALSE(I2cIsAcked(link) || I2cIsDone(link));  // an unreadable engine is no slave
}

TEST_F(ChipCommandsTest, FlashWritesSendOpcodeAndAddressHighByteFirst) {
  IspEnter(link);
  Trace();
  Bytes data(256);
  for (std::size_t i = 0; i < 256; ++i) data[i] = static_cast<std::uint8_t>(0x31 + i * 13);
  EXPECT_TRUE(FlashWriteEnable(link) && FlashPageProgram(link, 0x012300, 256, data.data()) &&
              Idle() && FlashWriteEnable(link) && FlashSectorErase(link, 0x05C123) && Idle() &&
              FlashWriteEnable(link) && FlashChipErase(link) && Idle() && FlashWriteEnable(link) &&
              FlashWriteStatus(link, 0x1C) && Idle());
  EXPECT_TRUE(FlashWriteEnable(link) && FlashWriteDisable(link) && chip.Flash().Status() == 0x1C);
  EXPECT_EQ(Trace(),
            "80i1:06 80:02012300 80i1:" + Hex(data) +
                " 80i1:06 80i1:2005C123 80i1:06 80i1:C7 80i1:06 80i1:011C 80i1:06 80i1:04");
}

// Reads poll 0x83 (FlashRead with a 1 ms pause after each "not yet"), and fetch only once it
// answered any nonzero byte. A read command that fails ends the read at once: the read-back
// buffer still holds the answer before it.
TEST_F(ChipCommandsTest, ReadsPollUntilFinishedThenFetchWhatWasAsked) {
  IspEnter(link);
  const Bytes stored(64, 0x5C);
  chip.Flash().WriteRange(0x03FFC0, stored);
  chip.SetSpiReadyDelayUs(2500);
  chip.SetReadyAnswer(0x80);
  Trace();
  Bytes got(64), buffer(300, 0x5A);
  auto* b = buffer.data();
  EXPECT_TRUE(FlashRead(link, 0x03FFC0, 64, got.data()) && got == stored);
  EXPECT_EQ(Trace(), "81v40i1:0303FFC0" + Times(3, " 83=00 P1") + " 83=80 82=" + Hex(stored));
  chip.SetSpiReadyDelayUs(0);
  ChipIdBytes id{};
  EXPECT_TRUE(FlashReadId(link, id) && FlashReadStatus(link) == 0x00);
  EXPECT_EQ(Trace(), "81v3i1:9F 83=80 82=C22013 81v1i1:05 83=80 82=00");
  chip.FailNextTransfers(3);
  EXPECT_FALSE(FlashReadId(link, id) || FlashReadStatus(link) != 0xFF || FlashRead(link, 0, 64, b));
  EXPECT_EQ(Trace(), "81v3i1:9F! 81v1i1:05! 81v40i1:03000000!");
  // Never finished: nothing is fetched and the destination keeps its bytes.
  chip.SetNeverReady(true);
  EXPECT_FALSE(FlashRead(link, 0, 64, b) || FlashReadStatus(link) != 0xFF || FlashReadId(link, id));
  EXPECT_EQ(buffer, Bytes(300, 0x5A));
  EXPECT_EQ(id, (ChipIdBytes{0xC2, 0x20, 0x13}));
  EXPECT_EQ(Trace(), "81v40i1:03000000" + Times(100, " 83=00 P1") + " 81v1i1:05" +
                         Times(10, " 83=00") + " 81v3i1:9F" + Times(100, " 83=00"));
  EXPECT_FALSE(FlashRead(link, 0, 0, b) || FlashRead(link, 0, 256, b) || SpiWrite(link, 1, 4, b) ||
               FlashPageProgram(link, 0, 0, b) || FlashPageProgram(link, 0, 257, b));
  EXPECT_EQ(Trace(), "");  // counts out of range: nothing sent
}

// Without its header a page program's data must not go out: it would reach the flash as a
// command of its own (here a page program at 0x1000). The result is the data request's.
TEST_F(ChipCommandsTest, PageProgramSendsNoDataWithoutItsHeader) {
  EXPECT_TRUE(IspEnter(link) && FlashWriteEnable(link));
  Trace();
  const Bytes data = {0x02, 0x00, 0x10, 0x00, 0xA5};
  chip.FailNextTransfers(1);
  EXPECT_FALSE(FlashPageProgram(link, 0x000300, 5, data.data()));
  EXPECT_EQ(Trace(), "80:02000300!");
  EXPECT_TRUE(chip.Flash().PagePrograms() == 0 && chip.Flash().Peek(0x1000) == kFill);
  chip.UnplugAfterTransfers(1);  // the header goes through, the data is lost: no page program
  EXPECT_FALSE(FlashPageProgram(link, 0x000300, 5, data.data()));
}

// Reads select the register, then a repeated start with the read address; only the last byte
// is refused.
TEST_F(ChipCommandsTest, I2cReadsRepeatTheStartOnlyATenTimesRefusedAddressFailsAndBytesPollDone) {
  slave().SetReg(0x40, 0x11);
  slave().SetReg(0x41, 0x22);
  I2cMasterSetup(link);
  Bytes got(3, kFill);
  EXPECT_TRUE(I2cReadRegs(link, 0x20, 0x40, 2, got.data()) && got == Bytes({0x11, 0x22, kFill}));
  EXPECT_EQ(bus(),
            (Events{E::Start(), E::Address(0x20), E::Write(0x40), E::Start(), E::Address(0x21),
                    E::Read(0x11, true), E::Read(0x22, false), E::Stop()}));
  // Ten address attempts, each with a start, then a stop and false; data bytes the slave
  // refuses pass silently.
  for (const auto& [busy, accepts, result] :
       {std::tuple{9, true, true}, {10, true, false}, {0, false, true}}) {
    SCOPED_TRACE(testing::Message() << busy << accepts);
    regs().i2c_bus().ClearEvents();
    slave().SetReg(0x05, 0x00);
    slave().SetBusyForAddressAttempts(busy);
    slave().SetAcceptsData(accepts);
    const std::uint8_t data[] = {0x99};
    EXPECT_EQ(I2cWriteRegs(link, 0x20, 0x05, 1, data), result);
    EXPECT_EQ(slave().reg(0x05), result && accepts ? 0x99 : 0x00);
    EXPECT_EQ(std::count(bus().begin(), bus().end(), E::Start()), std::min(busy + 1, 10));
    EXPECT_EQ(bus().back(), E::Stop());
    slave().SetBusyForAddressAttempts(busy);
    std::uint8_t kept = 0x5C;
    EXPECT_EQ(I2cReadRegs(link, 0x20, 0x05, 1, &kept), result);
    EXPECT_EQ(kept, result ? slave().reg(0x05) : 0x5C);
  }
  // Each byte polls the engine (at most 20 times) until done shows, then reads the acknowledge
  // once more. An engine busy for n reads takes n + 1 polls.
  for (const auto& [busy, address, acked] :
       {std::tuple{1u, 0x20, true}, {3u, 0x20, true}, {2u, 0x30, false}, {1000u, 0x20, false}}) {
    SCOPED_TRACE(busy);
    regs().i2c_engine().SetDoneAfterStatusReads(busy);
    I2cStart(link);
    Trace();
    EXPECT_EQ(I2cWriteByte(link, address), acked);
    const std::string polls = Times(std::min(busy, 20u), " R10=08");
    const std::string done = busy >= 20 ? "" : acked ? " R10=01" : " R10=09";
    EXPECT_EQ(Trace(), "W14=01 W12=" + Hex({std::uint8_t(address)}) + polls + done +
                           (busy >= 20 ? " R10=08" : done));
    I2cStop(link);
  }
}

TEST_F(ChipCommandsTest, MailboxWritesDataThenTheCommandPollsAndClearsOrReadsBack) {
  Bytes options{0xA1, 0x00, 0x5A, 0x80};
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x20, 0x00, 4, options.data()));
  EXPECT_EQ(Trace(),
            "close open W00=00 W93=A1 W94=00 W95=5A W96=80 W91=20 W92=00 W90=10 "
            "P10 R90=10 P10 R90=EE W90=00 close");
  regs().mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
  Bytes got(4, kFill);
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x21, 0x01, 4, got.data()) &&
              got == Bytes({0x7E, 0xE0, 0x5A, 0x80}));
  EXPECT_EQ(Trace(),
            "open W00=00 W91=21 W92=01 W90=10 P10 R90=10 P10 R90=EE R93=7E R94=E0 R95=5A R96=80 "
            "close");
  // 0x93 + 110 would wrap onto the bank select and the command register.
  Bytes block(110, 0x11);
  EXPECT_FALSE(MailboxCommand(link, 0x10, 0x20, 0x00, 110, block.data()) || !Trace().empty());
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x20, 0x00, 109, block.data()) &&
              Trace().find("WFF=11 W91=20") != std::string::npos);
  // A command never done: 20 polls, 10 ms apart, and the command is withdrawn all the same.
  regs().SetMailboxNeverCompletes(true);
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x20, 0x00, 4, options.data()));
  EXPECT_NE(Trace().find("W90=10" + Times(20, " P10 R90=10") + " W90=00 close"), std::string::npos);
}

TEST(WirePropertyRequest, LayoutAndRefusals) {
  const Bytes data(0x0102, 0x55);    // an IN transfer carries the buffer's prior contents
  Bytes out(40 + 0x0102 + 7, 0xCC);  // the encoder writes its zeros itself
  ASSERT_TRUE(wire::WritePropertyRequest(out, {0xC3, 0x82, 0xABCD, 0x1234}, data.data(), 0x0102));
  EXPECT_EQ(Hex(out), "4DC0D7F6C3C581419ED7504ABE0CDDFF07000000010000002082CDAB3412" +
                          Times(6, "00") + "02010000" + Times(0x0102, "55") + Times(7, "00"));
  EXPECT_EQ(wire::PropertyRequestSize(0xFFFFFFD1u), std::nullopt);  // would wrap to a tiny block
  // A block of another size, or a length without data: refused, nothing written.
  for (const auto& [size, from] :
       {std::pair{std::size_t{50}, data.data()}, {52, data.data()}, {51, nullptr}}) {
    Bytes block(size, 0xCC);
    EXPECT_FALSE(wire::WritePropertyRequest(block, {0x43, 0x80, 0, 1}, from, 4)) << size;
    EXPECT_EQ(block, Bytes(size, 0xCC));
  }
}

}  // namespace
}  // namespace velmora
