// The virtual chip's register side, driven register by register as the firmware would see it:
// bank selection, the I2C master engine with its slaves, the mailbox and the HID handshake.
#include "chip_registers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "virtual_clock.h"

namespace velmora::sim {

namespace {

using Events = std::vector<I2cBusEvent>;

using E = I2cBusEvent;

constexpr std::uint8_t kDone = 0x01, kNack = 0x08;

class ChipRegistersTest : public ::testing::Test {
 protected:
  // The engine's register protocol, as the command set drives it.
  void SelectBank(std::uint8_t bank) { chip.Write(0x00, bank); }
  void I2cStart() { chip.Write(0x10, 0xC0); }
  void I2cStop() { chip.Write(0x10, 0xA0); }
  // Reads the status until the done bit shows (at most 50 reads) and returns that status.
  std::uint8_t WaitDone() {
    std::uint8_t status = 0;
    for (int read = 0; read < 50 && (status & kDone) == 0; ++read) status = chip.Read(0x10);
    return status;
  }
  std::uint8_t I2cSend(std::uint8_t byte) {
    chip.Write(0x14, 0x01);
    chip.Write(0x12, byte);
    return WaitDone();
  }
  std::uint8_t I2cReceive(bool last) {
    chip.Write(0x10, last ? 0x90 : 0x80);
    chip.Write(0x14, 0x03);
    EXPECT_EQ(WaitDone() & kDone, kDone);
    return chip.Read(0x13);
  }
  // The mailbox protocol: data, p1, p2, then the command.
  void StartMailbox(std::uint8_t command, std::uint8_t p1, std::uint8_t p2,
                    const std::vector<std::uint8_t>& data = {}) {
    SelectBank(0x00);
    for (std::size_t i = 0; i < data.size(); ++i) chip.Write(0x93 + i, data[i]);
    chip.Write(0x91, p1);
    chip.Write(0x92, p2);
    chip.Write(0x90, command);
  }
  const Events& bus() { return chip.i2c_bus().events(); }

  VirtualClock clock;
  ChipRegisters chip{clock};
};

TEST_F(ChipRegistersTest, EachBankKeepsItsOwnTableAndRegisterZeroIsTheSelector) {
  // ISP set-up as the tool makes it on entry.
  SelectBank(0x0D);
  chip.Write(0x07, 0x10);
  chip.Write(0x01, 0x03);
  SelectBank(0xFF);
  EXPECT_EQ(chip.Read(0x07), 0x00);  // a fresh bank reads zero
  chip.Write(0x07, 0x5A);
  EXPECT_EQ(chip.Read(0x00), 0xFF);
  SelectBank(0x0D);
  EXPECT_EQ(chip.Read(0x07), 0x10);
  EXPECT_EQ(chip.Read(0x01), 0x03);
  EXPECT_EQ(chip.Read(0x00), 0x0D);
  chip.Write(0x07, 0x00);  // ISP exit
  EXPECT_EQ(chip.Peek(0x0D, 0x07), 0x00);
  EXPECT_EQ(chip.Peek(0xFF, 0x07), 0x5A);
  EXPECT_EQ(chip.bank(), 0x0D);
}

TEST_F(ChipRegistersTest, OnlyTheLowByteOfTheIndexAddressesARegister) {
  SelectBank(0x03);
  chip.Write(0x0142, 0x77);
  EXPECT_EQ(chip.Read(0x42), 0x77);
  chip.Write(0x0100, 0x05);  // still the bank selector
  EXPECT_EQ(chip.bank(), 0x05);
}

TEST_F(ChipRegistersTest, StatusRegistersAreReadInBankZeroOnly) {
  chip.SetStatus(0x05, 0x42, 0x03);
  SelectBank(0x0E);
  EXPECT_EQ(chip.Read(0xA4), 0x00);
  SelectBank(0x00);
  EXPECT_EQ(chip.Read(0xA4), 0x05);
  EXPECT_EQ(chip.Read(0xA5), 0x42);
  EXPECT_EQ(chip.Read(0xA6), 0x03);
}

TEST_F(ChipRegistersTest, EngineRegistersOutsideBankOEAreMereStorage) {
  SelectBank(0x00);
  I2cStart();
  chip.Write(0x14, 0x01);
  chip.Write(0x12, 0x20);
  EXPECT_TRUE(bus().empty());
  EXPECT_EQ(chip.Read(0x10), 0xC0);  // reads back what was written, not a status
}

TEST_F(ChipRegistersTest, RegisterWriteTransactionAutoIncrements) {
  SelectBank(0x0E);
  chip.Write(0x11, 0x04);
  I2cStart();
  EXPECT_EQ(I2cSend(0x20), kDone);
  EXPECT_EQ(I2cSend(0x10), kDone);
  EXPECT_EQ(I2cSend(0xAB), kDone);
  EXPECT_EQ(I2cSend(0x50), kDone);
  I2cStop();
  EXPECT_EQ(bus(), (Events{E::Start(), E::Address(0x20), E::Write(0x10), E::Write(0xAB),
                           E::Write(0x50), E::Stop()}));
  I2cSlave& slave = chip.default_slave();
  EXPECT_EQ(slave.reg(0x10), 0xAB);
  EXPECT_EQ(slave.reg(0x11), 0x50);
  EXPECT_EQ(slave.reg(0x12), 0x00);
  EXPECT_EQ(slave.pointer(), 0x12);
  EXPECT_EQ(chip.i2c_engine().setup(), 0x04);
}

TEST_F(ChipRegistersTest, RepeatedStartReadsFromThePointerAndStopsGivingAfterNoAck) {
  I2cSlave& slave = chip.default_slave();
  slave.SetReg(0xFE, 0x11);
  slave.SetReg(0xFF, 0x22);
  slave.SetReg(0x00, 0x33);
  SelectBank(0x0E);
  I2cStart();
  I2cSend(0x20);
  I2cSend(0xFE);
  I2cStart();
  EXPECT_EQ(I2cSend(0x21), kDone);
  EXPECT_EQ(I2cReceive(false), 0x11);
  EXPECT_EQ(I2cReceive(false), 0x22);
  EXPECT_EQ(I2cReceive(true), 0x33);  // wrapped past 0xFF
  EXPECT_EQ(I2cReceive(true), 0xFF);  // the slave let go after the refused byte
  I2cStop();
  EXPECT_EQ(bus(), (Events{E::Start(), E::Address(0x20), E::Write(0xFE), E::Start(),
                           E::Address(0x21), E::Read(0x11, true), E::Read(0x22, true),
                           E::Read(0x33, false), E::Read(0xFF, false), E::Stop()}));
  EXPECT_EQ(slave.pointer(), 0x01);
}

TEST_F(ChipRegistersTest, NobodyAcknowledgesForAnAbsentOrSilentSlave) {
  chip.i2c_bus().Attach(0x40).SetAcknowledges(false);
  SelectBank(0x0E);
  for (const std::uint8_t address : {0x30, 0x40}) {
    chip.i2c_bus().ClearEvents();
    I2cStart();
    EXPECT_EQ(I2cSend(address), kDone | kNack) << int{address};
    EXPECT_EQ(I2cSend(0x10), kDone | kNack);  // no slave listens to the data either
    I2cStop();
    EXPECT_EQ(bus(),
              (Events{E::Start(), E::Address(address, false), E::Write(0x10, false), E::Stop()}));
  }
  EXPECT_EQ(chip.default_slave().pointer(), 0x00);
}

TEST_F(ChipRegistersTest, BusyOrDataRefusingSlavesAndASlowEngine) {
  I2cSlave& slave = chip.default_slave();
  slave.SetBusyForAddressAttempts(2);
  SelectBank(0x0E);
  for (int attempt = 0; attempt < 2; ++attempt) {
    I2cStart();
    EXPECT_EQ(I2cSend(0x20), kDone | kNack);
  }
  I2cStart();
  EXPECT_EQ(I2cSend(0x20), kDone);
  slave.SetAcceptsData(false);
  EXPECT_EQ(I2cSend(0x05), kDone | kNack);
  I2cStop();
  EXPECT_EQ(slave.pointer(), 0x00);
}

// The engine is busy for a number of status reads after each byte (one by default); until done
// shows, the status reads "not done, no acknowledge" and 0x13 still holds the byte before.
TEST_F(ChipRegistersTest, ResultsShowOnlyWithTheDoneBit) {
  I2cSlave& slave = chip.default_slave();
  slave.SetReg(0x00, 0x5A);
  slave.SetReg(0x01, 0xA5);
  SelectBank(0x0E);
  const struct {
    unsigned busy_reads;
    std::vector<std::uint8_t> send_statuses, receive_statuses;
  } cases[] = {
      {I2cMasterEngine::kDefaultBusyStatusReads, {kNack, kDone, kDone}, {kNack, kDone}},
      {3, {kNack, kNack, kNack, kDone}, {kNack, kNack, kNack, kDone}},
      {0, {kNack, kDone}, {kNack, kDone}},  // never done at once: taken as 1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.busy_reads);
    chip.i2c_engine().SetDoneAfterStatusReads(c.busy_reads);
    I2cStart();
    chip.Write(0x14, 0x01);
    chip.Write(0x12, 0x20);  // acknowledged by the slave
    for (std::uint8_t expected : c.send_statuses) EXPECT_EQ(chip.Read(0x10), expected);
    I2cSend(0x00);
    I2cStart();
    I2cSend(0x21);
    // Two bytes in a row: 0x5A, then 0xA5 (last, not acknowledged).
    chip.Write(0x10, 0x80);
    chip.Write(0x14, 0x03);
    const std::uint8_t before = chip.Read(0x13);
    for (std::uint8_t expected : c.receive_statuses) {
      if ((expected & kDone) == 0) {
        EXPECT_EQ(chip.Read(0x13), before);
      }
      EXPECT_EQ(chip.Read(0x10), expected);
    }
    EXPECT_EQ(chip.Read(0x13), 0x5A);
    chip.Write(0x10, 0x90);
    chip.Write(0x14, 0x03);
    EXPECT_EQ(chip.Read(0x13), 0x5A);
    WaitDone();
    EXPECT_EQ(chip.Read(0x13), 0xA5);
    I2cStop();
  }
  // An absent slave's refusal shows only with done as well.
  chip.i2c_engine().SetDoneAfterStatusReads(1);
  I2cStart();
  chip.Write(0x14, 0x01);
  chip.Write(0x12, 0x30);
  EXPECT_EQ(chip.Read(0x10), kNack);
  EXPECT_EQ(chip.Read(0x10), kDone | kNack);
  I2cStop();
}

TEST_F(ChipRegistersTest, TheByteGoesOutOnlyWhenWrittenAfterAGo) {
  SelectBank(0x0E);
  I2cStart();
  chip.Write(0x12, 0x20);  // no go: stored only
  EXPECT_TRUE(bus().empty());
  chip.Write(0x14, 0x01);  // go alone: armed, busy, nothing sent
  EXPECT_TRUE(bus().empty());
  EXPECT_EQ(chip.Read(0x10) & kDone, 0);
  chip.Write(0x12, 0x20);
  EXPECT_EQ(bus(), (Events{E::Start(), E::Address(0x20)}));
  chip.Write(0x12, 0x44);  // the go was used up
  EXPECT_EQ(bus().size(), 2u);
  EXPECT_EQ(chip.Read(0x12), 0x44);
}

TEST_F(ChipRegistersTest, AStopDropsAStartThatNoByteFollowed) {
  SelectBank(0x0E);
  I2cStart();
  I2cStop();
  EXPECT_EQ(bus(), (Events{E::Stop()}));
}

struct ItemCase {
  const char* name;
  std::uint8_t p1;
  std::vector<std::uint8_t> data;
  std::array<std::uint8_t, 4> MailboxItems::*item;
};

class MailboxItemTest : public ChipRegistersTest, public ::testing::WithParamInterface<ItemCase> {};

TEST_P(MailboxItemTest, FourByteItemIsStoredWhenTheCommandCompletes) {
  const ItemCase& c = GetParam();
  StartMailbox(0x10, c.p1, 0x00, c.data);
  EXPECT_EQ(chip.Read(0x90), 0x10);  // still running
  EXPECT_EQ(chip.mailbox_items().*c.item, (std::array<std::uint8_t, 4>{}));
  clock.SleepMs(10);
  EXPECT_EQ(chip.Read(0x90), 0x10);
  clock.SleepMs(10);  // the default 20 ms have passed
  EXPECT_EQ(chip.Read(0x90), 0xEE);
  const auto& item = chip.mailbox_items().*c.item;
  EXPECT_EQ(std::vector<std::uint8_t>(item.begin(), item.end()), c.data);
  EXPECT_EQ(chip.mailbox_starts(), (std::vector<MailboxStart>{{0x10, c.p1, 0x00}}));
}

INSTANTIATE_TEST_SUITE_P(
    Items, MailboxItemTest,
    ::testing::Values(ItemCase{"VendorId", 0x08, {'6', 'c', 'c', '0'}, &MailboxItems::vendor_id},
                      ItemCase{"ProductId", 0x0A, {'6', '0', '1', '2'}, &MailboxItems::product_id},
                      ItemCase{"Options", 0x20, {0xA1, 0x00, 0x5A, 0x80}, &MailboxItems::options}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChipRegistersTest, OptionsReadFillsTheDataRegisters) {
  chip.mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
  chip.SetMailboxDelayUs(0);
  StartMailbox(0x10, 0x21, 0x00);
  EXPECT_EQ(chip.Read(0x90), 0xEE);  // a zero delay answers at once
  EXPECT_EQ(chip.Read(0x93), 0x7E);
  EXPECT_EQ(chip.Read(0x94), 0xE0);
  EXPECT_EQ(chip.Read(0x95), 0x5A);
  EXPECT_EQ(chip.Read(0x96), 0x80);
  EXPECT_EQ(chip.Read(0x97), 0x00);
}

TEST_F(ChipRegistersTest, StringChunksAssembleTheFieldEachInItsOwnString) {
  chip.SetMailboxDelayUs(0);
  StartMailbox(0x10, 0x14, 0, {0x0B, 'V', 'e', 'l', 'm', 'o', 'r', 'a'});
  // The last chunk is short: the firmware copies eight data registers anyway.
  StartMailbox(0x10, 0x14, 1, {'-', 'i', 'n', 'c'});
  StartMailbox(0x10, 0x18, 3, {'x', 'y', 'z', 'w', '1', '2', '3', '4'});
  StartMailbox(0x10, 0x18, 4, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});  // beyond
  const MailboxItems& items = chip.mailbox_items();
  EXPECT_EQ(items.StringText(1), "Velmora-inc");
  // Stale data registers 0x97-0x9A of chunk 0 behind the text.
  EXPECT_EQ(std::string(items.strings[1].begin() + 12, items.strings[1].begin() + 16), "mora");
  EXPECT_EQ(items.StringText(0), "");
  EXPECT_EQ(items.strings[2][24], 'x');
  EXPECT_EQ(items.strings[2][31], '4');
  EXPECT_EQ(items.strings[2][0], 0x00);
  chip.mailbox_items().strings[0][0] = 0xFF;  // a length beyond the field is cut at 31
  EXPECT_EQ(items.StringText(0).size(), 31u);
}

TEST_F(ChipRegistersTest, ACommandWithdrawnOrNeverPickedUpHasNoEffect) {
  StartMailbox(0x10, 0x20, 0, {1, 2, 3, 4});
  chip.Write(0x90, 0x00);  // withdrawn before the firmware saw it
  clock.SleepMs(100);
  EXPECT_EQ(chip.Read(0x90), 0x00);
  EXPECT_EQ(chip.mailbox_items().options, (std::array<std::uint8_t, 4>{}));

  chip.SetMailboxNeverCompletes(true);
  StartMailbox(0x10, 0x20, 0, {1, 2, 3, 4});
  clock.SleepMs(1000);
  EXPECT_EQ(chip.Read(0x90), 0x10);
  EXPECT_EQ(chip.mailbox_items().options, (std::array<std::uint8_t, 4>{}));
  EXPECT_EQ(chip.mailbox_starts().size(), 2u);
}

TEST_F(ChipRegistersTest, TheMailboxLivesInBankZeroOnly) {
  SelectBank(0x0D);
  chip.Write(0x91, 0x20);
  chip.Write(0x90, 0x10);
  clock.SleepMs(100);
  EXPECT_EQ(chip.Read(0x90), 0x10);
  EXPECT_TRUE(chip.mailbox_starts().empty());
}

TEST_F(ChipRegistersTest, HidKeyIsAnsweredWith31AfterTheDelay) {
  struct Case {
    std::uint64_t delay_us;
    int polls_until_answer;  // 10 ms polls
  } cases[] = {{0, 1}, {5000, 1}, {10000, 1}, {10001, 2}, {45000, 5}};
  std::vector<std::uint8_t> keys;
  for (const auto& c : cases) {
    chip.SetHidDelayUs(c.delay_us);
    const std::uint8_t key = static_cast<std::uint8_t>(keys.size() + 1);
    StartMailbox(0x30, key, 0);
    keys.push_back(key);
    int polls = 0;
    std::uint8_t answer = 0;
    while (polls < 10 && answer != 0x31) {
      clock.SleepMs(10);
      answer = chip.Read(0x90);
      ++polls;
      if (answer != 0x31) {
        EXPECT_EQ(answer, 0x30);
      }
    }
    EXPECT_EQ(polls, c.polls_until_answer) << c.delay_us;
  }
  EXPECT_EQ(chip.hid_keys_sent(), keys);
  EXPECT_TRUE(chip.mailbox_starts().empty());  // the handshake is no mailbox command

  chip.SetHidNeverAnswers(true);
  StartMailbox(0x30, 0x40, 0);
  clock.SleepMs(1000);
  EXPECT_EQ(chip.Read(0x90), 0x30);
  EXPECT_EQ(chip.hid_keys_sent().back(), 0x40);
}

}  // namespace
}  // namespace velmora::sim
