// The Windows back-end's own source run against a recording stand-in for SetupAPI, CreateFileA,
// DeviceIoControl and LocalAlloc: what it asks of the system, in which records, and what it frees.
#include "win32_usb_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win32_api.h"
#include "velmora_usb.h"
#include "wire_formats.h"

namespace velmora {
namespace {

using fake_win32::Bytes;
using fake_win32::DriverReply;
using fake_win32::Interface;
using fake_win32::IoctlCall;

const fake_win32::GuidBytes kGenericClass = {0x10, 0xbf, 0xdc, 0xa5, 0x30, 0x65, 0xd2, 0x11,
                                             0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed};
const fake_win32::GuidBytes kPropertyClass = {0xa4, 0x4f, 0x89, 0x50, 0x06, 0x92, 0x91, 0x4a,
                                              0x87, 0x28, 0xcf, 0x6f, 0x26, 0x8f, 0x27, 0x1d};

const fake_win32::GuidBytes& ClassOf(Backend backend) {
  return backend == Backend::Property ? kPropertyClass : kGenericClass;
}

const char* NameOf(Backend backend) {
  return backend == Backend::Property ? "property" : "generic";
}

// A caller's buffer with a pattern no driver answer uses.
Bytes CallerBuffer(std::uint32_t length) {
  Bytes data(length);
  for (std::uint32_t i = 0; i < length; ++i) data[i] = static_cast<std::uint8_t>(0x30 + i * 7);
  return data;
}

std::uint32_t Le32(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_win32::ResetMachine(); }
  // Whatever a test did, nothing it asked for may stay live or be released twice.
  void TearDown() override {
    const fake_win32::Machine& m = machine();
    EXPECT_TRUE(m.live_blocks.empty()) << m.live_blocks.size() << " LocalAlloc blocks not freed";
    EXPECT_TRUE(m.open_handles.empty()) << m.open_handles.size() << " handles not closed";
    EXPECT_TRUE(m.live_lists.empty()) << m.live_lists.size() << " interface lists not destroyed";
    EXPECT_EQ(m.bad_releases, 0u) << "something was released that was not live";
    fake_win32::ResetMachine();
  }
  static fake_win32::Machine& machine() { return fake_win32::TheMachine(); }

  Win32UsbPlatform platform;
};

TEST_F(Win32PlatformTest, SearchWalksEveryInterfaceOfTheClassAndSkipsUnreadablePaths) {
  const std::string longest = "\\\\?\\usb#vid_6ccf&pid_6012#" + std::string(511 - 26, 'x');
  for (Backend backend : {Backend::Generic, Backend::Property}) {
    SCOPED_TRACE(NameOf(backend));
    fake_win32::ResetMachine();
    machine().classes[ClassOf(backend)] = {
        {"\\\\?\\usb#vid_1d7a&pid_6000#1"},
        {"\\\\?\\usb#size#unreadable", false, true},
        {"\\\\?\\usb#path#unreadable", true, false},
        {longest},
        {"u"},  // shorter than the 64-bit record's padded fixed part
    };
    machine().classes[ClassOf(backend == Backend::Generic ? Backend::Property : Backend::Generic)] =
        {{"\\\\?\\other#class"}};

    std::vector<std::string> paths = {"left over from an earlier search"};
    ASSERT_TRUE(platform.EnumerateInterfaces(backend, paths));
    EXPECT_EQ(paths, (std::vector<std::string>{"\\\\?\\usb#vid_1d7a&pid_6000#1", longest, "u"}));

    ASSERT_EQ(machine().class_requests.size(), 1u);
    EXPECT_EQ(machine().class_requests[0].guid, ClassOf(backend));
    EXPECT_EQ(machine().class_requests[0].flags, 0x12u);  // present devices, interface class
    EXPECT_EQ(machine().enumerated_indexes, (std::vector<DWORD>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(machine().destroyed_lists, 1u);
    // Every readable interface: a size query, then the path into a block of exactly that size
    // whose size field names the record's fixed part: 5 bytes on 32-bit Windows, 8 on 64-bit.
    for (const fake_win32::DetailCall& call : machine().detail_calls) {
      if (call.size_query) {
        EXPECT_EQ(call.buffer_size, 0u);
        continue;
      }
      const std::string& path = machine().classes[ClassOf(backend)][call.index].path;
      EXPECT_EQ(call.buffer_size, 4 + path.size() + 1) << path;
      EXPECT_EQ(call.size_field, FAKE_WIN32_POINTER_BITS == 32 ? 5u : 8u) << path;
    }
  }
}

TEST_F(Win32PlatformTest, SearchWithoutAClassListOrWithABrokenWalkReportsWhatItHas) {
  machine().class_list_fails = true;
  std::vector<std::string> paths = {"stale"};
  EXPECT_FALSE(platform.EnumerateInterfaces(Backend::Generic, paths));
  EXPECT_TRUE(paths.empty());
  EXPECT_TRUE(machine().enumerated_indexes.empty());
  EXPECT_EQ(machine().destroyed_lists, 0u);  // nothing to release
  EXPECT_NE(platform.LastError(), "");

  // An enumeration error other than the list's end stops the walk; the list is still released.
  fake_win32::ResetMachine();
  machine().classes[kGenericClass] = {{"a"}, {"b"}, {"c"}};
  machine().enumeration_fails_at = 1;
  EXPECT_TRUE(platform.EnumerateInterfaces(Backend::Generic, paths));
  EXPECT_EQ(paths, std::vector<std::string>{"a"});
  EXPECT_EQ(machine().enumerated_indexes, (std::vector<DWORD>{0, 1}));
  EXPECT_EQ(machine().destroyed_lists, 1u);
  EXPECT_EQ(platform.LastError(), "System message 31.");
}

TEST_F(Win32PlatformTest, OpenAsksForSharedReadWriteOnAnExistingObjectAndCloseReleasesIt) {
  const UsbHandle handle = platform.Open("\\\\?\\usb#vid_6ccf&pid_6012#7");
  ASSERT_NE(handle, kInvalidHandle);
  ASSERT_NE(handle, kNoHandle);
  ASSERT_EQ(machine().creates.size(), 1u);
  const fake_win32::CreateCall& create = machine().creates[0];
  EXPECT_EQ(create.path, "\\\\?\\usb#vid_6ccf&pid_6012#7");
  EXPECT_EQ(create.access, 0xC0000000u);  // read and write
  EXPECT_EQ(create.share, 0x3u);          // shared reading and writing
  EXPECT_EQ(create.creation, 3u);         // existing object only
  EXPECT_EQ(create.flags, 0u);
  EXPECT_TRUE(create.security_null && create.template_null);
  platform.Close(handle);
  EXPECT_EQ(machine().closes, std::vector<HANDLE>{reinterpret_cast<HANDLE>(handle)});

  // A refused open leaves the invalid marker, which, like "no handle", is never closed.
  machine().refused_paths.insert("refused");
  EXPECT_EQ(platform.Open("refused"), kInvalidHandle);
  EXPECT_EQ(platform.LastError(), "System message 5.");
  platform.Close(kInvalidHandle);
  platform.Close(kNoHandle);
  EXPECT_EQ(machine().closes.size(), 1u);
}

// One row per back-end, direction and length: each transfer is exactly one driver call with the
// back-end's control code and record, and the caller's buffer as the output buffer.
TEST_F(Win32PlatformTest, EachTransferIsOneDriverCallInTheBackendsWireFormat) {
  struct Case {
    Backend backend;
    ControlSetup setup;
    std::uint32_t length;
    DWORD code;
    std::uint32_t input_size;
  };
  const Case cases[] = {
      {Backend::Generic, {0xC3, 0x81, 0x1234, 0xA55A}, 4, 0x22242E, 24},
      {Backend::Generic, {0x43, 0x80, 0x0102, 0x0304}, 1, 0x222429, 24},
      {Backend::Generic, {0x43, 0x85, 0x0000, 0x0001}, 0, 0x222429, 24},
      {Backend::Property, {0xC3, 0x81, 0x1234, 0xA55A}, 4, 0x2F0003, 4 + 47},
      {Backend::Property, {0x43, 0x80, 0x0102, 0x0304}, 1, 0x2F0003, 1 + 47},
      {Backend::Property, {0x43, 0x85, 0x0000, 0x0001}, 0, 0x2F0003, 48},
      {Backend::Property, {0x43, 0x82, 0xBEEF, 0x0000}, 300, 0x2F0003, 300 + 47},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(NameOf(c.backend)) + " bRequest " + std::to_string(c.setup.request) +
                 " length " + std::to_string(c.length));
    fake_win32::ResetMachine();
    const UsbHandle handle = platform.Open("dev");
    Bytes data = CallerBuffer(c.length);
    const Bytes before = data;
    ASSERT_TRUE(platform.ControlTransfer(handle, c.backend, c.setup, data.data(), c.length));
    platform.Close(handle);

    ASSERT_EQ(machine().ioctls.size(), 1u);
    const IoctlCall& call = machine().ioctls[0];
    EXPECT_EQ(call.handle, reinterpret_cast<HANDLE>(handle));
    EXPECT_EQ(call.code, c.code);
    ASSERT_EQ(call.input.size(), c.input_size);
    EXPECT_EQ(call.output_size, c.length);
    EXPECT_EQ(call.output_null, c.length == 0);
    EXPECT_EQ(call.output_at_call, before);  // the driver reads an OUT transfer's data here
    EXPECT_TRUE(call.returned_given && call.overlapped_null);  // synchronous
    EXPECT_EQ(data, before);  // a driver that answers nothing changes nothing

    if (c.backend == Backend::Generic) {
      Bytes record(24, 0);
      record[4] = c.setup.request_type;
      record[5] = c.setup.request;
      record[6] = static_cast<std::uint8_t>(c.setup.value);
      record[7] = static_cast<std::uint8_t>(c.setup.value >> 8);
      record[8] = static_cast<std::uint8_t>(c.setup.index);
      record[9] = static_cast<std::uint8_t>(c.setup.index >> 8);
      EXPECT_EQ(call.input, record);
      EXPECT_TRUE(machine().local_alloc_flags.empty());
    } else {
      // The request lives in one zero-filled LocalAlloc block, freed after the call.
      EXPECT_TRUE(call.input_is_local_block);
      EXPECT_EQ(machine().local_alloc_flags, std::vector<UINT>{LPTR});
      EXPECT_EQ(machine().local_frees, 1u);
      Bytes expected(c.input_size);
      ASSERT_TRUE(wire::WritePropertyRequest(expected, c.setup, before.data(), c.length));
      EXPECT_EQ(call.input, expected);
      EXPECT_EQ(Le32(call.input, 16), 7u);  // the control-transfer property
      EXPECT_EQ(Le32(call.input, 20), c.setup.DeviceToHost() ? 1u : 2u);
      EXPECT_EQ(Le32(call.input, 36), c.length);
      EXPECT_EQ(Bytes(call.input.begin() + 40, call.input.begin() + 40 + c.length), before);
    }
  }
}

// An IN answer reaches the caller's buffer only when the driver call succeeded; bytes the driver
// did not write keep their value. A driver that fails after scribbling on its output buffer
// leaves the caller's buffer as it was.
TEST_F(Win32PlatformTest, InAnswerReachesTheCallersBufferOnlyOnSuccess) {
  for (Backend backend : {Backend::Generic, Backend::Property}) {
    SCOPED_TRACE(NameOf(backend));
    fake_win32::ResetMachine();
    const UsbHandle handle = platform.Open("dev");
    const ControlSetup read{0xC3, 0x81, 0, 0};

    machine().replies.push_back({true, {0x11, 0x22}});
    Bytes data = CallerBuffer(4);
    EXPECT_TRUE(platform.ControlTransfer(handle, backend, read, data.data(), 4));
    EXPECT_EQ(data, (Bytes{0x11, 0x22, CallerBuffer(4)[2], CallerBuffer(4)[3]}));

    machine().replies.push_back({false, {}, 31});
    data = CallerBuffer(4);
    EXPECT_FALSE(platform.ControlTransfer(handle, backend, read, data.data(), 4));
    EXPECT_EQ(data, CallerBuffer(4));
    EXPECT_EQ(platform.LastError(), "System message 31.");
    platform.Close(handle);
    EXPECT_EQ(machine().ioctls.size(), 2u);
  }
}

TEST_F(Win32PlatformTest, TransfersThatCannotBeSentNeverReachTheDriver) {
  Bytes data = CallerBuffer(4);
  const ControlSetup read{0xC3, 0x81, 0, 0};
  for (Backend backend : {Backend::Generic, Backend::Property}) {
    EXPECT_FALSE(platform.ControlTransfer(kNoHandle, backend, read, data.data(), 4));
    EXPECT_FALSE(platform.ControlTransfer(kInvalidHandle, backend, read, data.data(), 4));
    EXPECT_FALSE(platform.Probe(kInvalidHandle, backend));
  }
  const UsbHandle handle = platform.Open("dev");
  for (Backend backend : {Backend::Generic, Backend::Property}) {
    EXPECT_FALSE(platform.ControlTransfer(handle, backend, read, nullptr, 4));
  }
  machine().local_alloc_fails = true;
  EXPECT_FALSE(platform.ControlTransfer(handle, Backend::Property, read, data.data(), 4));
  platform.Close(handle);
  EXPECT_TRUE(machine().ioctls.empty());
  EXPECT_EQ(data, CallerBuffer(4));
}

TEST_F(Win32PlatformTest, ProbesAskTheDriverWhetherItAnswers) {
  const UsbHandle handle = platform.Open("dev");
  EXPECT_TRUE(platform.Probe(handle, Backend::Generic));
  EXPECT_TRUE(platform.Probe(handle, Backend::Property));
  machine().replies.push_back({false, {}, 31});
  EXPECT_FALSE(platform.Probe(handle, Backend::Generic));
  platform.Close(handle);

  ASSERT_EQ(machine().ioctls.size(), 3u);
  // GET_DESCRIPTOR for the 18-byte device descriptor on the generic driver.
  const IoctlCall& descriptor = machine().ioctls[0];
  EXPECT_EQ(descriptor.code, 0x22242Eu);
  EXPECT_EQ(descriptor.input, (Bytes{0, 0, 0, 0, 0x80, 0x06, 0x00, 0x01, 0x01, 0x00, 18, 0,
                                     0, 0, 0, 0, 0,    0,    0,    0,    0,    0,    0,  0}));
  EXPECT_EQ(descriptor.output_size, 18u);
  // Set-support query for the control-transfer property set on the audio driver, no output.
  const IoctlCall& support = machine().ioctls[1];
  EXPECT_EQ(support.code, 0x2F0003u);
  ASSERT_EQ(support.input.size(), 24u);
  EXPECT_EQ(Bytes(support.input.begin(), support.input.begin() + 16),
            Bytes(wire::kControlPropertySet.begin(), wire::kControlPropertySet.end()));
  EXPECT_EQ(Le32(support.input, 16), 0u);
  EXPECT_EQ(Le32(support.input, 20), 0x100u);
  EXPECT_TRUE(support.output_null);
  EXPECT_EQ(support.output_size, 0u);
}

// The device link over the Windows back-end: a search probes every match on a handle of its own
// and closes it; the later match wins; a transfer then goes out on the link's own handle.
TEST_F(Win32PlatformTest, DeviceLinkSearchesProbesAndTransfersThroughTheSystemCalls) {
  machine().classes[kPropertyClass] = {
      {"\\\\?\\usb#vid_6ccf&pid_6012#1"},
      {"\\\\?\\usb#vid_6ccf&pid_6012#unreadable", true, false},
      {"\\\\?\\usb#vid_1d7a&pid_6000#2"},
      {"\\\\?\\usb#vid_6ccf&pid_6012#3"},
  };
  {
    VelmoraUsb link(platform);
    link.SetBackend(VelmoraUsb::kPropertyBackend);
    link.SetMatchText("vid_6ccf&pid_6012");
    EXPECT_TRUE(link.FindDevice());
    EXPECT_EQ(link.DevicePath(), "\\\\?\\usb#vid_6ccf&pid_6012#3");
    ASSERT_EQ(machine().creates.size(), 2u);
    EXPECT_EQ(machine().creates[0].path, "\\\\?\\usb#vid_6ccf&pid_6012#1");
    EXPECT_EQ(machine().creates[1].path, "\\\\?\\usb#vid_6ccf&pid_6012#3");
    EXPECT_EQ(machine().closes.size(), 2u);
    EXPECT_TRUE(machine().open_handles.empty());

    ASSERT_TRUE(link.Open());
    machine().replies.push_back({true, {0xC2, 0x22, 0x11}});
    std::uint8_t id[3] = {};
    EXPECT_TRUE(link.ControlTransfer(0xC3, 0x81, 0, 0, id, 3));
    EXPECT_EQ(Bytes(id, id + 3), (Bytes{0xC2, 0x22, 0x11}));
    ASSERT_EQ(machine().ioctls.size(), 3u);  // two probes, one transfer
    EXPECT_EQ(machine().ioctls[2].handle, *machine().open_handles.begin());
  }  // the link's destruction closes its handle
}

}  // namespace
}  // namespace velmora
