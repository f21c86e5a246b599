#include "fake_win32_api.h"

#include <algorithm>
#include <cstring>

namespace fake_win32 {
namespace {

Machine& Current() {
  static Machine machine;
  return machine;
}

BOOL Fail(DWORD error) {
  Current().last_error = error;
  return FALSE;
}

const std::vector<Interface>* ListOf(HDEVINFO list) {
  Machine& m = Current();
  const auto live = m.live_lists.find(list);
  if (live == m.live_lists.end()) return nullptr;
  const auto listed = m.classes.find(live->second);
  static const std::vector<Interface> kNone;
  return listed == m.classes.end() ? &kNone : &listed->second;
}

// Whether the driver writes the output buffer of a call, or only reads it: the transfer method in
// the control code's low two bits, and for a kernel-streaming property request its GET flag.
bool DriverWritesOutput(DWORD code, const Bytes& input) {
  constexpr DWORD kMethodInDirect = 1;
  constexpr DWORD kMethodNeither = 3;
  constexpr DWORD kKsPropertyGet = 1;
  const DWORD method = code & 3;
  if (method == kMethodInDirect) return false;
  if (method != kMethodNeither) return true;
  return input.size() >= 24 && (input[20] & kKsPropertyGet) != 0;
}

}  // namespace

Machine& TheMachine() {
  return Current();
}

void ResetMachine() {
  for (const auto& [block, size] : Current().live_blocks)
    delete[] static_cast<std::uint8_t*>(block);
  Current() = Machine{};
}

GuidBytes BytesOf(const GUID& guid) {
  GuidBytes bytes;
  std::memcpy(bytes.data(), &guid, bytes.size());
  return bytes;
}

std::string SystemMessage(DWORD code) {
  return "System message " + std::to_string(code) + ".\r\n";
}

}  // namespace fake_win32

using fake_win32::Current;
using fake_win32::Fail;

HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, const char*, HWND, DWORD flags) {
  fake_win32::Machine& m = Current();
  if (class_guid == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  m.class_requests.push_back({fake_win32::BytesOf(*class_guid), flags});
  if (m.class_list_fails) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto* list = reinterpret_cast<HDEVINFO>(m.next_token++);
  m.live_lists[list] = fake_win32::BytesOf(*class_guid);
  return list;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, SP_DEVINFO_DATA*, const GUID* class_guid,
                                 DWORD index, SP_DEVICE_INTERFACE_DATA* iface) {
  fake_win32::Machine& m = Current();
  m.enumerated_indexes.push_back(index);
  const std::vector<fake_win32::Interface>* interfaces = fake_win32::ListOf(list);
  if (interfaces == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (class_guid == nullptr || fake_win32::BytesOf(*class_guid) != m.live_lists[list]) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (iface == nullptr || iface->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (index == m.enumeration_fails_at) return Fail(ERROR_GEN_FAILURE);
  if (index >= interfaces->size()) return Fail(ERROR_NO_MORE_ITEMS);
  iface->InterfaceClassGuid = *class_guid;
  iface->Flags = 1;             // active
  iface->Reserved = index + 1;  // how the detail call knows the interface again
  return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* iface,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detail_size,
                                      DWORD* required_size, SP_DEVINFO_DATA*) {
  fake_win32::Machine& m = Current();
  const std::vector<fake_win32::Interface>* interfaces = fake_win32::ListOf(list);
  if (interfaces == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (iface == nullptr || iface->Reserved == 0 || iface->Reserved > interfaces->size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::size_t index = iface->Reserved - 1;
  const fake_win32::Interface& entry = (*interfaces)[index];
  m.detail_calls.push_back(
      {index, detail == nullptr, detail_size, detail == nullptr ? DWORD{0} : detail->cbSize});
  if (!entry.size_readable) return Fail(ERROR_GEN_FAILURE);
  const auto needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                         entry.path.size() + 1);
  if (required_size != nullptr) *required_size = needed;
  if (detail == nullptr)
    return Fail(detail_size == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
  if (detail->cbSize != fake_win32::kDetailRecordSize) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (detail_size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (!entry.path_readable) return Fail(ERROR_GEN_FAILURE);
  std::memcpy(detail->DevicePath, entry.path.c_str(), entry.path.size() + 1);
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
  fake_win32::Machine& m = Current();
  if (m.live_lists.erase(list) == 0) {
    ++m.bad_releases;
    return Fail(ERROR_INVALID_HANDLE);
  }
  ++m.destroyed_lists;
  return TRUE;
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD creation, DWORD flags, HANDLE template_file) {
  fake_win32::Machine& m = Current();
  m.creates.push_back({path == nullptr ? "" : path, access, share, creation, flags,
                       security == nullptr, template_file == nullptr});
  if (path == nullptr || m.refused_paths.count(path) != 0) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto* handle = reinterpret_cast<HANDLE>(m.next_token++);
  m.open_handles.insert(handle);
  return handle;
}

BOOL CloseHandle(HANDLE handle) {
  fake_win32::Machine& m = Current();
  m.closes.push_back(handle);
  if (m.open_handles.erase(handle) == 0) {
    ++m.bad_releases;
    return Fail(ERROR_INVALID_HANDLE);
  }
  return TRUE;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, void* input, DWORD input_size, void* output,
                     DWORD output_size, DWORD* returned, OVERLAPPED* overlapped) {
  fake_win32::Machine& m = Current();
  fake_win32::IoctlCall call{handle,
                             code,
                             {},
                             false,
                             output == nullptr,
                             output_size,
                             {},
                             returned != nullptr,
                             overlapped == nullptr};
  if (input != nullptr) {
    const auto* in = static_cast<const std::uint8_t*>(input);
    call.input.assign(in, in + input_size);
    const auto block = m.live_blocks.find(input);
    call.input_is_local_block = block != m.live_blocks.end() && block->second == input_size;
  }
  if (output != nullptr) {
    const auto* out = static_cast<const std::uint8_t*>(output);
    call.output_at_call.assign(out, out + output_size);
  }
  m.ioctls.push_back(call);
  if (m.open_handles.count(handle) == 0) return Fail(ERROR_INVALID_HANDLE);
  if ((input == nullptr && input_size != 0) || (output == nullptr && output_size != 0) ||
      returned == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  fake_win32::DriverReply reply;
  if (!m.replies.empty()) {
    reply = m.replies.front();
    m.replies.pop_front();
  }
  auto* out = static_cast<std::uint8_t*>(output);
  if (!reply.ok) {
    if (out != nullptr && fake_win32::DriverWritesOutput(code, call.input)) {
      std::fill(out, out + output_size, std::uint8_t{0xEE});
    }
    return Fail(reply.error);
  }
  const std::size_t answered = std::min<std::size_t>(reply.answer.size(), output_size);
  std::copy_n(reply.answer.begin(), answered, out);
  *returned = static_cast<DWORD>(answered);
  return TRUE;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T size) {
  fake_win32::Machine& m = Current();
  m.local_alloc_flags.push_back(flags);
  if (m.local_alloc_fails) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* block = new std::uint8_t[size == 0 ? 1 : size];
  // Without zero-fill the block holds junk, so code that relies on zeros it did not ask for shows.
  std::fill_n(block, size, (flags & LMEM_ZEROINIT) != 0 ? std::uint8_t{0} : std::uint8_t{0xA5});
  m.live_blocks[block] = size;
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  fake_win32::Machine& m = Current();
  ++m.local_frees;
  const auto live = m.live_blocks.find(block);
  if (live == m.live_blocks.end()) {
    ++m.bad_releases;
    Fail(ERROR_INVALID_HANDLE);
    return block;
  }
  delete[] static_cast<std::uint8_t*>(block);
  m.live_blocks.erase(live);
  return nullptr;
}

DWORD GetLastError() {
  return Current().last_error;
}

DWORD FormatMessageA(DWORD, const void*, DWORD message, DWORD, char* buffer, DWORD size, va_list*) {
  const std::string text = fake_win32::SystemMessage(message);
  if (buffer == nullptr || size <= text.size()) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}
