#include "umockdev_harness.h"

#include <errno.h>
#include <linux/capability.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace velmora::fake {
namespace {

constexpr std::size_t kSetupSize = 8;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint16_t kDeviceDescriptorValue = 0x0100;
constexpr int kUrbStatusStall = -EPIPE;
constexpr int kUrbStatusKilled = -ENOENT;  // what the kernel reports for a discarded URB

// Device descriptor (18 bytes) and one configuration with one vendor interface.
std::vector<std::uint8_t> Descriptors(std::uint16_t vid, std::uint16_t pid, std::uint8_t cls) {
  return {0x12, 0x01, 0x00, 0x02, cls, 0x00, 0x00, 0x40, std::uint8_t(vid), std::uint8_t(vid >> 8),
          std::uint8_t(pid), std::uint8_t(pid >> 8), 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
          // configuration: 9 bytes + interface 9 bytes, bus powered
          0x09, 0x02, 0x12, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
          // interface 0: vendor class (hubs: class 9), no endpoints
          0x09, 0x04, 0x00, 0x00, 0x00, std::uint8_t(cls == 0x09 ? 0x09 : 0xFF), 0x00, 0x00, 0x00};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    text += two;
  }
  return text;
}

std::string Printf(const char* format, unsigned a, unsigned b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// One submitted URB, kept until the client reaps it.
struct Urb {
  UMockdevIoctlClient* client;  // referenced
  UMockdevIoctlData* data;      // the usbdevfs_urb, referenced
  bool finished;
};

struct Device {
  FakeUsbDevice info;
  std::mutex* mutex = nullptr;
  std::string syspath;  // /sys/devices/...
  std::string devnode;  // /dev/bus/usb/BBB/DDD
  std::vector<std::uint8_t> descriptors;
  UMockdevIoctlBase* handler = nullptr;
  bool silent = false;
  bool unplugged = false;
  std::size_t short_answers = SIZE_MAX;
  std::size_t transfers = 0;
  std::vector<UmockdevHarness::SetupPacket> setups;
  std::vector<Urb> urbs;
};

}  // namespace

struct UmockdevHarness::State {
  UMockdevTestbed* testbed = nullptr;
  std::string error;
  std::mutex mutex;  // guards every Device: the ioctl handler runs on umockdev's worker thread
  std::vector<std::unique_ptr<Device>> devices;
  std::set<std::string> hubs;                // sysfs names of the hubs added for deep port paths
  std::map<unsigned, unsigned> next_devnum;  // per bus; 1 is the root hub's
  bool caps_dropped = false;
  __user_cap_data_struct saved_caps[2] = {};
};

namespace {

void Complete(UMockdevIoctlClient* client, long result, int error) {
  umockdev_ioctl_client_complete(client, result, error);
}

// Answers one control URB from the virtual device. Returns false for a stall.
bool Answer(Device& device, std::uint8_t* setup_and_data, std::size_t data_room,
            int& actual_length) {
  ControlSetup setup;
  setup.request_type = setup_and_data[0];
  setup.request = setup_and_data[1];
  setup.value = std::uint16_t(setup_and_data[2] | (setup_and_data[3] << 8));
  setup.index = std::uint16_t(setup_and_data[4] | (setup_and_data[5] << 8));
  const auto w_length = std::uint16_t(setup_and_data[6] | (setup_and_data[7] << 8));
  device.setups.push_back({setup, w_length});
  const std::uint32_t length =
      std::min<std::uint32_t>(w_length, static_cast<std::uint32_t>(data_room));
  std::uint8_t* data = setup_and_data + kSetupSize;
  sim::VirtualDevice* answers = device.info.answers;

  const bool standard = (setup.request_type & 0x60) == 0;
  if (standard && setup.request == kGetDescriptor && setup.value == kDeviceDescriptorValue &&
      setup.DeviceToHost()) {
    if (answers != nullptr && !answers->HandleProbe(device.info.backend)) return false;
    const std::size_t n = std::min<std::size_t>(length, 18);
    std::memcpy(data, device.descriptors.data(), n);
    actual_length = static_cast<int>(n);
    return true;
  }
  if (answers == nullptr) return false;
  if (!answers->HandleControl(device.info.backend, setup, data, length)) return false;
  actual_length = static_cast<int>(
      setup.DeviceToHost() ? std::min<std::size_t>(length, device.short_answers) : length);
  return true;
}

void SubmitUrb(Device& device, UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  UMockdevIoctlData* urb_data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
  if (urb_data == nullptr) {
    g_clear_error(&error);
    Complete(client, -1, EFAULT);
    return;
  }
  auto* urb = reinterpret_cast<usbdevfs_urb*>(urb_data->data);
  if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < int(kSetupSize)) {
    g_object_unref(urb_data);
    Complete(client, -1, EINVAL);  // the fake devices have no other endpoints
    return;
  }
  UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                                          std::size_t(urb->buffer_length), &error);
  if (buffer == nullptr) {
    g_clear_error(&error);
    g_object_unref(urb_data);
    Complete(client, -1, EFAULT);
    return;
  }
  ++device.transfers;
  bool finished = false;
  if (!device.silent) {
    int actual = 0;
    const bool ok =
        Answer(device, buffer->data, std::size_t(urb->buffer_length) - kSetupSize, actual);
    urb->status = ok ? 0 : kUrbStatusStall;
    urb->actual_length = ok ? actual : 0;
    finished = true;
  }
  g_object_unref(buffer);  // its bytes are synced back with the URB when the call completes
  g_object_ref(client);
  device.urbs.push_back(Urb{client, urb_data, finished});
  Complete(client, 0, 0);
}

void ReapUrb(Device& device, UMockdevIoctlClient* client) {
  for (auto it = device.urbs.begin(); it != device.urbs.end(); ++it) {
    if (it->client != client || !it->finished) continue;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
    if (slot == nullptr) {
      g_clear_error(&error);
      Complete(client, -1, EFAULT);
      return;
    }
    umockdev_ioctl_data_set_ptr(slot, 0, it->data);
    g_object_unref(slot);
    g_object_unref(it->data);
    g_object_unref(it->client);
    device.urbs.erase(it);
    Complete(client, 0, 0);
    return;
  }
  Complete(client, -1, EAGAIN);  // nothing finished yet: libusb polls again
}

void DiscardUrb(Device& device, UMockdevIoctlClient* client) {
  // The argument is the URB's address in the client, not a pointer to resolve.
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  gulong address = 0;
  std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
  for (Urb& urb : device.urbs) {
    if (urb.client != client || urb.data->client_addr != address || urb.finished) continue;
    auto* fields = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
    usbdevfs_urb killed = *fields;
    killed.status = kUrbStatusKilled;
    killed.actual_length = 0;
    umockdev_ioctl_data_update(urb.data, 0, reinterpret_cast<guint8*>(&killed), sizeof killed);
    urb.finished = true;
    Complete(client, 0, 0);
    return;
  }
  Complete(client, -1, EINVAL);  // already finished: libusb then reaps it normally
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user_data) {
  auto& device = *static_cast<Device*>(user_data);
  std::lock_guard<std::mutex> lock(*device.mutex);
  if (device.unplugged) {
    Complete(client, -1, ENODEV);
    return TRUE;
  }
  const gulong request = umockdev_ioctl_client_get_request(client);
  switch (request) {
    case USBDEVFS_SUBMITURB:
      SubmitUrb(device, client);
      break;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      ReapUrb(device, client);
      break;
    case USBDEVFS_DISCARDURB:
      DiscardUrb(device, client);
      break;
    case USBDEVFS_GET_CAPABILITIES: {
      GError* error = nullptr;
      UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client),
                                                            0, sizeof(std::uint32_t), &error);
      if (caps == nullptr) {
        g_clear_error(&error);
        Complete(client, -1, EFAULT);
        break;
      }
      std::memset(caps->data, 0, sizeof(std::uint32_t));
      g_object_unref(caps);
      Complete(client, 0, 0);
      break;
    }
    case USBDEVFS_GETDRIVER:
      Complete(client, -1, ENODATA);  // no kernel driver bound
      break;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
      Complete(client, 0, 0);
      break;
    default:
      Complete(client, -1, ENOTTY);
      break;
  }
  return TRUE;
}

// The file-permission override of root, per thread.
constexpr std::uint32_t kDacCaps = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool GetCaps(__user_cap_data_struct (&caps)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capget, &header, caps) == 0;
}

bool SetCaps(__user_cap_data_struct (&caps)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capset, &header, caps) == 0;
}

}  // namespace

UmockdevHarness::UmockdevHarness() : state_(std::make_unique<State>()) {
  if (!PreloadActive()) {
    state_->error = "umockdev's preload library is not loaded (link velmora_umockdev_main)";
    return;
  }
  state_->testbed = umockdev_testbed_new();
  if (state_->testbed == nullptr) state_->error = "umockdev testbed could not be created";
}

UmockdevHarness::~UmockdevHarness() {
  if (state_->caps_dropped) SetCaps(state_->saved_caps);
  for (auto& device : state_->devices) {
    if (state_->testbed != nullptr) {
      umockdev_testbed_detach_ioctl(state_->testbed, device->devnode.c_str(), nullptr);
    }
    if (device->handler != nullptr) g_object_unref(device->handler);
    for (Urb& urb : device->urbs) {
      g_object_unref(urb.data);
      g_object_unref(urb.client);
    }
  }
  if (state_->testbed != nullptr) g_object_unref(state_->testbed);
}

bool UmockdevHarness::Ok() const {
  return state_->testbed != nullptr;
}

const std::string& UmockdevHarness::Error() const {
  return state_->error;
}

bool UmockdevHarness::PreloadActive() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

void UmockdevHarness::EnsurePreload(char** argv) {
  if (PreloadActive()) return;
  if (std::getenv("VELMORA_UMOCKDEV_REEXEC") != nullptr) return;  // tried once already
  std::string preload = "libumockdev-preload.so.0";
  if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
    preload += ':';
    preload += old;
  }
  // The preload library comes before the sanitizer runtime, which ASan refuses by default.
  std::string asan;
  if (const char* old = std::getenv("ASAN_OPTIONS"); old != nullptr && *old != '\0') {
    asan = std::string(old) + ':';
  }
  asan += "verify_asan_link_order=0";
  setenv("LD_PRELOAD", preload.c_str(), 1);
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
  setenv("VELMORA_UMOCKDEV_REEXEC", "1", 1);
  execv("/proc/self/exe", argv);
  std::perror("re-executing with umockdev's preload library");
}

int UmockdevHarness::Plug(const FakeUsbDevice& info) {
  State& s = *state_;
  if (s.testbed == nullptr) return -1;
  if (info.bus < 1 || info.bus > 255 || info.ports.empty()) {
    s.error = "bus must be 1..255 and the port path not empty";
    return -1;
  }
  // Each level of the port path is a directory below the root hub; the hubs of deeper levels
  // are listed too, so the port path can be read back from the device's parents.
  const std::string root = Printf("/sys/devices/pci0000:00/0000:00:14.0/usb%u", info.bus);
  std::string sysname = std::to_string(info.bus) + "-";
  std::string dir = root;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = info.ports.find('.', start);
    sysname += info.ports.substr(start, dot == std::string::npos ? dot : dot - start);
    dir += "/" + sysname;
    if (dot == std::string::npos) break;
    if (s.hubs.insert(sysname).second) {
      const unsigned devnum = ++s.next_devnum[info.bus] + 1;
      const std::string hub =
          "P: " + dir.substr(4) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
          Printf("E: BUSNUM=%03u\nE: DEVNUM=%03u\n", info.bus, devnum) +
          Printf("A: busnum=%u\\n\nA: devnum=%u\\n\n", info.bus, devnum) +
          "A: speed=480\\n\nA: idVendor=1d6b\\n\nA: idProduct=0002\\n\n" +
          "A: bConfigurationValue=1\\n\nH: descriptors=" + Hex(Descriptors(0x1d6b, 2, 0x09)) + "\n";
      GError* error = nullptr;
      if (!umockdev_testbed_add_from_string(s.testbed, hub.c_str(), &error)) {
        s.error = std::string("hub: ") + error->message;
        g_clear_error(&error);
        return -1;
      }
    }
    sysname += ".";
    start = dot + 1;
  }

  auto device = std::make_unique<Device>();
  device->info = info;
  device->mutex = &s.mutex;
  device->syspath = dir;
  const unsigned devnum = ++s.next_devnum[info.bus] + 1;
  const std::string node = Printf("bus/usb/%03u/%03u", info.bus, devnum);
  device->devnode = "/dev/" + node;
  device->descriptors = Descriptors(info.vendor_id, info.product_id, 0x00);

  device->handler = umockdev_ioctl_base_new();
  g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(OnIoctl), device.get());
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(s.testbed, device->devnode.c_str(), device->handler, &error)) {
    s.error = std::string("attach ioctl: ") + error->message;
    g_clear_error(&error);
    g_object_unref(device->handler);
    return -1;
  }
  const std::string record =
      "P: " + dir.substr(4) + "\nN: " + node + "=" + Hex(device->descriptors) + "\n" +
      "E: SUBSYSTEM=usb\nE: DEVNAME=" + device->devnode + "\nE: DEVTYPE=usb_device\n" +
      Printf("E: BUSNUM=%03u\nE: DEVNUM=%03u\n", info.bus, devnum) +
      Printf("A: busnum=%u\\n\nA: devnum=%u\\n\n", info.bus, devnum) +
      Printf("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", info.vendor_id, info.product_id) +
      "A: speed=480\\n\nA: bConfigurationValue=1\\n\n" +
      Printf("A: dev=189:%u\\n\n", (info.bus - 1) * 128 + devnum - 1) +
      "H: descriptors=" + Hex(device->descriptors) + "\n";
  if (!umockdev_testbed_add_from_string(s.testbed, record.c_str(), &error)) {
    s.error = std::string("device: ") + error->message;
    g_clear_error(&error);
    umockdev_testbed_detach_ioctl(s.testbed, device->devnode.c_str(), nullptr);
    g_object_unref(device->handler);
    return -1;
  }
  std::lock_guard<std::mutex> lock(s.mutex);
  s.devices.push_back(std::move(device));
  return static_cast<int>(s.devices.size()) - 1;
}

void UmockdevHarness::SetSilent(int id, bool silent) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (id >= 0 && std::size_t(id) < state_->devices.size()) state_->devices[id]->silent = silent;
}

void UmockdevHarness::Unplug(int id) {
  Device* device = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (id < 0 || std::size_t(id) >= state_->devices.size()) return;
    device = state_->devices[id].get();
    if (device->unplugged) return;
    device->unplugged = true;
  }
  // The remove event first, while /sys still describes the device: libusb drops it on that.
  umockdev_testbed_uevent(state_->testbed, device->syspath.c_str(), "remove");
  umockdev_testbed_remove_device(state_->testbed, device->syspath.c_str());
}

bool UmockdevHarness::DenyAccess(int id) {
  State& s = *state_;
  if (s.testbed == nullptr || id < 0 || std::size_t(id) >= s.devices.size()) return false;
  gchar* root = umockdev_testbed_get_root_dir(s.testbed);
  const std::string node = std::string(root) + s.devices[id]->devnode;
  g_free(root);
  if (chmod(node.c_str(), 0) != 0) {
    s.error = "chmod " + node + ": " + std::strerror(errno);
    return false;
  }
  if (!s.caps_dropped) {
    __user_cap_data_struct caps[2] = {};
    if (!GetCaps(caps)) return false;
    std::memcpy(s.saved_caps, caps, sizeof caps);
    caps[0].effective &= ~kDacCaps;
    if (!SetCaps(caps)) {
      s.error = std::string("capset: ") + std::strerror(errno);
      return false;
    }
    s.caps_dropped = true;
  }
  return true;
}

void UmockdevHarness::AllowAccess(int id) {
  State& s = *state_;
  if (s.caps_dropped && SetCaps(s.saved_caps)) s.caps_dropped = false;
  if (s.testbed == nullptr || id < 0 || std::size_t(id) >= s.devices.size()) return;
  gchar* root = umockdev_testbed_get_root_dir(s.testbed);
  const std::string node = std::string(root) + s.devices[id]->devnode;
  g_free(root);
  chmod(node.c_str(), 0644);
}

void UmockdevHarness::SetShortAnswers(int id, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (id >= 0 && std::size_t(id) < state_->devices.size()) {
    state_->devices[id]->short_answers = bytes;
  }
}

std::vector<UmockdevHarness::SetupPacket> UmockdevHarness::Setups(int id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (id < 0 || std::size_t(id) >= state_->devices.size()) return {};
  return state_->devices[id]->setups;
}

std::size_t UmockdevHarness::TransferCount(int id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (id < 0 || std::size_t(id) >= state_->devices.size()) return 0;
  return state_->devices[id]->transfers;
}

}  // namespace velmora::fake
