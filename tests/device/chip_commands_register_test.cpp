// The register, I2C and mailbox commands over the device link, the virtual platform and the
// virtual chip: the register traffic they make, the pauses between polls and what reaches the
// chip's I2C bus and mailbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "chip_commands.h"
#include "transcript.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora {
namespace {

using sim::I2cBusEvent;
using Events = std::vector<I2cBusEvent>;
using Bytes = std::vector<std::uint8_t>;

using E = I2cBusEvent;

std::string Hex(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

// The transcript in short words: "open", "close", "P10" (pause), "W93=A1" (register write),
// "R90=EE" (register read and its answer), "R90!" (failed read), "x80" (any other request).
std::vector<std::string> Words(const sim::Transcript& transcript) {
  using Kind = sim::TranscriptEvent::Kind;
  std::vector<std::string> words;
  for (const auto& e : transcript.Events()) {
    if (e.kind == Kind::Open) words.push_back("open");
    if (e.kind == Kind::Close) words.push_back("close");
    if (e.kind == Kind::Pause) words.push_back("P" + std::to_string(e.ms));
    if (e.kind != Kind::Transfer) continue;
    if (e.setup.request == request::kRegWrite) {
      words.push_back("W" + Hex(e.setup.index) + "=" + Hex(e.data.at(0)));
    } else if (e.setup.request == request::kRegRead) {
      words.push_back("R" + Hex(e.setup.index) + (e.ok ? "=" + Hex(e.data.at(0)) : "!"));
    } else {
      words.push_back("x" + Hex(e.setup.request));
    }
  }
  return words;
}

std::string Join(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

// The words of the transcript that are in `keep`, in order.
std::string Only(const sim::Transcript& transcript, std::initializer_list<std::string> keep) {
  std::vector<std::string> kept;
  for (const auto& w : Words(transcript)) {
    if (std::find(keep.begin(), keep.end(), w) != keep.end()) kept.push_back(w);
  }
  return Join(kept);
}

int Count(const sim::Transcript& transcript, const std::string& word) {
  const auto words = Words(transcript);
  return static_cast<int>(std::count(words.begin(), words.end(), word));
}

class RegisterCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    ASSERT_TRUE(usb.FindDevice());
    ASSERT_TRUE(usb.Open());
    transcript.Clear();
  }
  sim::ChipRegisters& regs() { return chip.Registers(); }
  sim::I2cSlave& slave() { return regs().default_slave(); }
  const Events& bus() { return regs().i2c_bus().events(); }
  std::string trace() { return Join(Words(transcript)); }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  sim::VirtualChip chip{clock};
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
};

TEST_F(RegisterCommandsTest, RegisterRequestsCarryTheIndexAndOneByte) {
  EXPECT_TRUE(RegSelectBank(link, 0x00));
  regs().SetStatus(0x05, 0x42, 0x03);
  std::uint8_t value = 0;
  EXPECT_TRUE(RegRead(link, 0xA6, value));
  EXPECT_EQ(value, 0x03);
  EXPECT_TRUE(RegWrite(link, 0x0123, 0x5A));
  EXPECT_EQ(regs().Peek(0x00, 0x23), 0x5A);

  const auto transfers = transcript.Transfers();
  ASSERT_EQ(transfers.size(), 3u);
  EXPECT_EQ(transfers[1].setup.request_type, request::kDeviceToHost);
  EXPECT_EQ(transfers[1].setup.request, request::kRegRead);
  EXPECT_EQ(transfers[1].setup.value, 0);
  EXPECT_EQ(transfers[1].length, 1u);
  EXPECT_EQ(transfers[2].setup.request_type, request::kHostToDevice);
  EXPECT_EQ(transfers[2].setup.index, 0x0123);  // all 16 bits go out
  EXPECT_EQ(transfers[2].data, Bytes{0x5A});
}

TEST_F(RegisterCommandsTest, AFailedRegisterReadLeavesTheDestination) {
  std::uint8_t value = 0x77;
  chip.FailNextTransfers(1);
  EXPECT_FALSE(RegRead(link, 0x10, value));
  EXPECT_EQ(value, 0x77);
  chip.FailNextTransfers(1);
  EXPECT_FALSE(RegWrite(link, 0x10, 0x01));
  EXPECT_EQ(regs().Peek(0x00, 0x10), 0x00);
}

TEST_F(RegisterCommandsTest, MasterSetupSelectsTheEngineBank) {
  EXPECT_TRUE(I2cMasterSetup(link));
  EXPECT_EQ(trace(), "W00=0E W11=04");
  EXPECT_EQ(regs().i2c_engine().setup(), 0x04);
}

// The set-up answers for its last write only: the bank select before it may fail unnoticed.
TEST_F(RegisterCommandsTest, MasterSetupGivesTheResultOfItsLastWrite) {
  const struct {
    const char* name;
    int failing;  // write that fails: 0 the bank select, 1 the set-up, -1 none
    bool result;
  } cases[] = {{"both go through", -1, true},
               {"bank select fails", 0, true},
               {"set-up write fails", 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t first = chip.TransfersAnswered() + chip.TransfersRefused();
    chip.SetTransferHook([&](std::uint32_t index) {
      if (c.failing >= 0 && index == first + static_cast<std::uint32_t>(c.failing)) {
        chip.FailNextTransfers(1);
      }
    });
    EXPECT_EQ(I2cMasterSetup(link), c.result);
    chip.SetTransferHook(nullptr);
  }
}

// Each byte polls the engine until done shows, then reads the acknowledge once more; a received
// byte is fetched only after done. An engine that stays busy for n reads takes n + 1 polls.
TEST_F(RegisterCommandsTest, EachBytePollsDoneUntilItShowsThenReadsTheResult) {
  slave().SetReg(0x40, 0x9C);
  I2cMasterSetup(link);
  const struct {
    unsigned busy_reads;
    std::uint8_t address;
    bool acked;
  } cases[] = {{1, 0x20, true}, {3, 0x20, true}, {1, 0x30, false}, {4, 0x30, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.busy_reads << " busy reads, address " << int{c.address});
    regs().i2c_engine().SetDoneAfterStatusReads(c.busy_reads);
    I2cStart(link);
    transcript.Clear();
    EXPECT_EQ(I2cWriteByte(link, c.address), c.acked);
    const std::string done = c.acked ? "R10=01" : "R10=09";
    std::string polls;
    for (unsigned i = 0; i < c.busy_reads; ++i) polls += " R10=08";
    EXPECT_EQ(trace(), "W14=01 W12=" + Hex(c.address) + polls + " " + done + " " + done);
    if (!c.acked) {
      I2cStop(link);
      continue;
    }
    I2cWriteByte(link, 0x40);
    I2cStart(link);
    I2cWriteByte(link, 0x21);
    transcript.Clear();
    std::uint8_t byte = 0;
    EXPECT_TRUE(I2cReadByte(link, true, byte));
    EXPECT_EQ(byte, 0x9C);
    EXPECT_EQ(trace(), "W10=90 W14=03" + polls + " R10=01 R13=9C");
    I2cStop(link);
  }
}

TEST_F(RegisterCommandsTest, RegisterReadUsesARepeatedStartAndRefusesOnlyTheLastByte) {
  const Bytes stored{0x11, 0x22, 0x33};
  for (int i = 0; i < 3; ++i) slave().SetReg(0x40 + i, stored[i]);
  I2cMasterSetup(link);
  struct Case {
    std::uint8_t count;
    const char* receive_commands;  // the values written to 0x10 before each received byte
  } cases[] = {{1, "W10=90"}, {2, "W10=80 W10=90"}, {3, "W10=80 W10=80 W10=90"}};
  for (const auto& c : cases) {
    regs().i2c_bus().ClearEvents();
    transcript.Clear();
    Bytes got(c.count, 0xCC);
    EXPECT_TRUE(I2cReadRegs(link, 0x20, 0x40, c.count, got.data()));
    EXPECT_EQ(got, Bytes(stored.begin(), stored.begin() + c.count));
    Events expected{E::Start(), E::Address(0x20), E::Write(0x40), E::Start(), E::Address(0x21)};
    for (int i = 0; i < c.count; ++i) expected.push_back(E::Read(stored[i], i + 1 < c.count));
    expected.push_back(E::Stop());
    EXPECT_EQ(bus(), expected) << int{c.count};
    EXPECT_EQ(Only(transcript, {"W10=80", "W10=90"}), c.receive_commands);
  }
}

TEST_F(RegisterCommandsTest, AnAbsentSlaveGetsTenAddressAttemptsAndAStop) {
  I2cMasterSetup(link);
  const std::uint8_t data[] = {0x01};
  EXPECT_FALSE(I2cWriteRegs(link, 0x30, 0x10, 1, data));
  Events expected;
  for (int attempt = 0; attempt < 10; ++attempt) {
    expected.push_back(E::Start());
    expected.push_back(E::Address(0x30, false));
  }
  expected.push_back(E::Stop());
  EXPECT_EQ(bus(), expected);
  EXPECT_EQ(Count(transcript, "W10=C0"), 10);
  EXPECT_EQ(Count(transcript, "W10=A0"), 1);

  regs().i2c_bus().ClearEvents();
  std::uint8_t value = 0x5C;
  EXPECT_FALSE(I2cReadRegs(link, 0x30, 0x10, 1, &value));
  EXPECT_EQ(value, 0x5C);
  EXPECT_EQ(bus().size(), 21u);
  EXPECT_EQ(bus().back(), E::Stop());
}

TEST_F(RegisterCommandsTest, ASlaveBusyForNineAttemptsIsReachedAtTheTenth) {
  I2cMasterSetup(link);
  struct Case {
    int busy_attempts;
    bool reached;
  } cases[] = {{0, true}, {9, true}, {10, false}};
  for (const auto& c : cases) {
    regs().i2c_bus().ClearEvents();
    slave().SetReg(0x05, 0x00);
    slave().SetBusyForAddressAttempts(c.busy_attempts);
    const std::uint8_t data[] = {0x99};
    EXPECT_EQ(I2cWriteRegs(link, 0x20, 0x05, 1, data), c.reached) << c.busy_attempts;
    EXPECT_EQ(slave().reg(0x05), c.reached ? 0x99 : 0x00);
    EXPECT_EQ(bus().front(), E::Start());
    EXPECT_EQ(bus().back(), E::Stop());
  }
}

// A slave that refuses data bytes does not fail the transaction; only its address counts.
TEST_F(RegisterCommandsTest, RefusedDataBytesPassSilentlyButAnUnacknowledgedAddressFails) {
  I2cMasterSetup(link);
  slave().SetReg(0x10, 0x77);
  const std::uint8_t data[] = {0xAB, 0x50};
  const struct {
    const char* name;
    bool acknowledges, accepts_data, result;
  } cases[] = {{"data refused", true, false, true}, {"address refused", false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    slave().SetAcknowledges(c.acknowledges);
    slave().SetAcceptsData(c.accepts_data);
    regs().i2c_bus().ClearEvents();
    EXPECT_EQ(I2cWriteRegs(link, 0x20, 0x10, 2, data), c.result);
    EXPECT_EQ(I2cWriteRaw(link, 0x20, 1, data, 1, data + 1), c.result);
    EXPECT_EQ(slave().reg(0x10), 0x77);  // nothing was stored either way
    EXPECT_EQ(bus().back(), E::Stop());
  }
  // The refused bytes did go out, each answered with no acknowledge.
  slave().SetAcknowledges(true);
  slave().SetAcceptsData(false);
  regs().i2c_bus().ClearEvents();
  EXPECT_TRUE(I2cWriteRegs(link, 0x20, 0x10, 2, data));
  EXPECT_EQ(bus(), (Events{E::Start(), E::Address(0x20), E::Write(0x10, false),
                           E::Write(0xAB, false), E::Write(0x50, false), E::Stop()}));
}

TEST_F(RegisterCommandsTest, RawTransfersSendCommandBytesThenDataOrAReadPhase) {
  I2cMasterSetup(link);
  const std::uint8_t command[] = {0x10};
  const std::uint8_t data[] = {0xAB, 0x50};
  EXPECT_TRUE(I2cWriteRaw(link, 0x20, 1, command, 2, data));
  EXPECT_EQ(bus(), (Events{E::Start(), E::Address(0x20), E::Write(0x10), E::Write(0xAB),
                           E::Write(0x50), E::Stop()}));
  EXPECT_EQ(slave().reg(0x10), 0xAB);
  EXPECT_EQ(slave().reg(0x11), 0x50);

  regs().i2c_bus().ClearEvents();
  slave().SetReg(0x02, 0xD1);
  slave().SetReg(0x03, 0xD2);
  slave().SetReg(0x04, 0xD3);
  // The slave takes the first command byte as its pointer and stores the second at it.
  const std::uint8_t read_command[] = {0x01, 0x02};
  Bytes got(5, 0xCC);
  EXPECT_TRUE(I2cReadRaw(link, 0x20, 2, read_command, 3, got.data()));
  EXPECT_EQ(bus(), (Events{E::Start(), E::Address(0x20), E::Write(0x01), E::Write(0x02), E::Start(),
                           E::Address(0x21), E::Read(0xD1, true), E::Read(0xD2, true),
                           E::Read(0xD3, false), E::Stop()}));
  EXPECT_EQ(got, (Bytes{0xD1, 0xD2, 0xD3, 0xCC, 0xCC}));
  EXPECT_EQ(slave().reg(0x01), 0x02);
}

TEST_F(RegisterCommandsTest, ByteTransfersPollDoneTwentyTimesAndCarryOn) {
  I2cMasterSetup(link);
  regs().i2c_engine().SetDoneAfterStatusReads(1000);  // the done bit never shows
  transcript.Clear();
  EXPECT_TRUE(I2cStart(link));
  // The acknowledge is read all the same, and a busy engine has seen none.
  EXPECT_FALSE(I2cWriteByte(link, 0x20));
  EXPECT_EQ(Count(transcript, "R10=08"), 21);  // 20 polls and the acknowledge read
  transcript.Clear();
  std::uint8_t byte = 0;
  EXPECT_TRUE(I2cReadByte(link, true, byte));
  EXPECT_EQ(Count(transcript, "R10=08"), 20);
  EXPECT_EQ(Count(transcript, "R13=FF"), 1);  // read anyway: the engine's byte before
  EXPECT_EQ(byte, 0xFF);
}

TEST_F(RegisterCommandsTest, AnUnreadableEngineCountsAsNoAcknowledge) {
  I2cMasterSetup(link);
  chip.FailRequest(request::kRegRead);
  EXPECT_FALSE(I2cIsAcked(link));
  EXPECT_FALSE(I2cIsDone(link));
  const std::uint8_t data[] = {0x01};
  EXPECT_FALSE(I2cWriteRegs(link, 0x20, 0x00, 1, data));
}

TEST_F(RegisterCommandsTest, MailboxWriteSendsDataThenCommandPollsAndClears) {
  usb.Close();
  transcript.Clear();
  Bytes options{0xA1, 0x00, 0x5A, 0x80};
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x20, 0x00, 4, options.data()));
  // The chip answers after its default 20 ms: two polls.
  EXPECT_EQ(trace(),
            "open W00=00 W93=A1 W94=00 W95=5A W96=80 W91=20 W92=00 W90=10 "
            "P10 R90=10 P10 R90=EE W90=00 close");
  EXPECT_EQ(regs().mailbox_items().options, (std::array<std::uint8_t, 4>{0xA1, 0x00, 0x5A, 0x80}));
  EXPECT_EQ(usb.Handle(), kNoHandle);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(RegisterCommandsTest, MailboxReadNeverWritesDataRegistersAndLeaves90AsTheChipLeftIt) {
  regs().mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
  transcript.Clear();
  Bytes got(4, 0xCC);
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x21, 0x00, 4, got.data()));
  EXPECT_EQ(trace(),
            "close open W00=00 W91=21 W92=00 W90=10 P10 R90=10 P10 R90=EE "
            "R93=7E R94=E0 R95=5A R96=80 close");
  EXPECT_EQ(got, (Bytes{0x7E, 0xE0, 0x5A, 0x80}));
  EXPECT_EQ(regs().Peek(0x00, 0x90), 0xEE);
}

TEST_F(RegisterCommandsTest, MailboxRefusesADataBlockPastTheLastDataRegister) {
  usb.Close();
  transcript.Clear();
  Bytes block(110, 0x11);  // 0x93 + 110 would reach 0x101 and wrap onto 0x00 and 0x90
  EXPECT_FALSE(MailboxCommand(link, 0x10, 0x20, 0x00, 110, block.data()));
  EXPECT_EQ(trace(), "");
  EXPECT_TRUE(MailboxCommand(link, 0x10, 0x20, 0x00, 109, block.data()));
  EXPECT_NE(trace().find("WFF=11 W91=20"), std::string::npos);
}

TEST_F(RegisterCommandsTest, MailboxPollsTwentyTimesTenMilliseconds) {
  struct Case {
    const char* name;
    std::uint64_t delay_us;
    bool never;
    int polls;
  } cases[] = {{"at once", 0, false, 1},
               {"default", 20000, false, 2},
               {"just late", 190001, false, 20},
               {"never", 0, true, 20}};
  for (const auto& c : cases) {
    regs().SetMailboxDelayUs(c.delay_us);
    regs().SetMailboxNeverCompletes(c.never);
    transcript.Clear();
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_TRUE(MailboxCommand(link, 0x10, 0x20, 0x00, 4, data)) << c.name;
    std::string polls;
    for (int i = 1; i <= c.polls; ++i) {
      polls += std::string(" P10 R90=") + (i == c.polls && !c.never ? "EE" : "10");
    }
    EXPECT_NE(trace().find("W90=10" + polls + " W90=00 close"), std::string::npos)
        << c.name << ": " << trace();
    EXPECT_EQ(transcript.Count(sim::TranscriptEvent::Kind::Pause),
              static_cast<std::size_t>(c.polls))
        << c.name;
    EXPECT_EQ(transcript.TotalPauseMs(), 10u * c.polls) << c.name;
  }
}

TEST_F(RegisterCommandsTest, StringChunksAndTheVendorIdReachTheChip) {
  const std::string field = std::string(1, '\x0B') + "Velmora-inc";
  Bytes bytes(field.begin(), field.end());
  MailboxCommand(link, 0x10, 0x10, 0, 8, bytes.data());
  MailboxCommand(link, 0x10, 0x10, 1, 4, bytes.data() + 8);
  const std::string vid = "6cc0";
  Bytes vid_bytes(vid.begin(), vid.end());
  MailboxCommand(link, 0x10, 0x08, 0, 4, vid_bytes.data());
  EXPECT_EQ(regs().mailbox_items().StringText(0), "Velmora-inc");
  EXPECT_EQ(regs().mailbox_items().vendor_id, (std::array<std::uint8_t, 4>{'6', 'c', 'c', '0'}));
  EXPECT_EQ(
      regs().mailbox_starts(),
      (std::vector<sim::MailboxStart>{{0x10, 0x10, 0x00}, {0x10, 0x10, 0x01}, {0x10, 0x08, 0x00}}));
}

}  // namespace
}  // namespace velmora
