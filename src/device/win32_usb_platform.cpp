#include "win32_usb_platform.h"

// The tests build this file on other hosts against a recording stand-in for these two headers.
#ifdef VELMORA_WIN32_API_HEADER
#include VELMORA_WIN32_API_HEADER
#else
// windows.h must come before the SetupAPI header.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

#include "wire_formats.h"

namespace velmora {
namespace {

static_assert(sizeof(GUID) == sizeof(wire::Guid), "a GUID is 16 bytes");
static_assert(sizeof(HANDLE) <= sizeof(UsbHandle), "a HANDLE fits in a UsbHandle");
#ifndef VELMORA_WIN32_API_HEADER
// SetupAPI checks the detail structure's size field against the layout it was built with: packed
// to 5 bytes on 32-bit Windows, padded to 8 on 64-bit.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 4 ? 5 : 8),
              "the detail structure's layout of this Windows");
#endif

// Windows keeps a GUID in memory exactly as the byte image describes it.
GUID ToGuid(const wire::Guid& image) {
  GUID guid;
  std::memcpy(&guid, image.data(), sizeof(guid));
  return guid;
}

HANDLE ToHandle(UsbHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

UsbHandle ToUsbHandle(HANDLE handle) {
  return reinterpret_cast<UsbHandle>(handle);
}

bool IsUsable(UsbHandle handle) {
  return handle != kNoHandle && handle != kInvalidHandle;
}

// Reads one interface's path: first the size SetupAPI needs, then the path into a block of that
// size. False when either step fails.
bool ReadInterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& iface, std::string& path) {
  const std::size_t text_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailA(list, &iface, nullptr, 0, &needed, nullptr);
  if (needed <= text_offset) return false;

  // DWORD elements keep the detail structure suitably aligned. A short path needs fewer bytes
  // than the 64-bit structure's padded size, yet its size field is written all the same.
  const std::size_t block_bytes =
      std::max<std::size_t>(needed, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
  std::vector<DWORD> block((block_bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
  // The size field names the fixed part of the structure (5 bytes on 32-bit, 8 on 64-bit).
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(list, &iface, detail, needed, nullptr, nullptr)) {
    return false;
  }
  const char* text = reinterpret_cast<const char*>(block.data()) + text_offset;
  path.assign(text, strnlen(text, needed - text_offset));
  return true;
}

}  // namespace

bool Win32UsbPlatform::EnumerateInterfaces(Backend backend, std::vector<std::string>& paths) {
  paths.clear();
  GUID interface_class = ToGuid(wire::InterfaceClass(backend));
  HDEVINFO list = SetupDiGetClassDevsA(&interface_class, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) {
    RememberLastError();
    return false;
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &interface_class, index, &iface)) {
      // ERROR_NO_MORE_ITEMS is the normal end. Any other failure ends the walk as well: the
      // next index would most likely fail the same way, and retrying could go on for ever.
      if (GetLastError() != ERROR_NO_MORE_ITEMS) RememberLastError();
      break;
    }
    std::string path;
    if (ReadInterfacePath(list, iface, path)) paths.push_back(std::move(path));
  }
  SetupDiDestroyDeviceInfoList(list);
  return true;
}

UsbHandle Win32UsbPlatform::Open(const std::string& path) {
  HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    RememberLastError();
    return kInvalidHandle;
  }
  return ToUsbHandle(handle);
}

void Win32UsbPlatform::Close(UsbHandle handle) {
  if (IsUsable(handle)) CloseHandle(ToHandle(handle));
}

bool Win32UsbPlatform::ControlTransfer(UsbHandle handle, Backend backend, const ControlSetup& setup,
                                       std::uint8_t* data, std::uint32_t length) {
  if (!IsUsable(handle)) {
    // INVALID_HANDLE_VALUE also names the current process, so it never goes to the system.
    last_error_ = ERROR_INVALID_HANDLE;
    return false;
  }
  if (data == nullptr && length != 0) {
    last_error_ = ERROR_INVALID_PARAMETER;
    return false;
  }

  // An IN answer lands in a copy of the caller's buffer first, so a call that fails half way
  // leaves the caller's bytes as they were; bytes the driver does not write keep their old value.
  std::vector<std::uint8_t> answer;
  std::uint8_t* output = length == 0 ? nullptr : data;
  if (setup.DeviceToHost() && length != 0) {
    answer.assign(data, data + length);
    output = answer.data();
  }

  bool ok = false;
  if (backend == Backend::Property) {
    const std::optional<std::uint32_t> size = wire::PropertyRequestSize(length);
    if (!size) {
      last_error_ = ERROR_INVALID_PARAMETER;
      return false;
    }
    HLOCAL block = LocalAlloc(LPTR, *size);
    if (block == nullptr) {
      RememberLastError();
      return false;
    }
    const std::span<std::uint8_t> request(static_cast<std::uint8_t*>(block), *size);
    ok = wire::WritePropertyRequest(request, setup, data, length) &&
         DriverCall(handle, wire::kIoctlKsProperty, request.data(), *size, output, length);
    LocalFree(block);
  } else {
    const wire::GenericRecord record = wire::EncodeTransferRecord(setup);
    ok = DriverCall(handle, wire::GenericControlCode(setup), record.data(),
                    static_cast<std::uint32_t>(record.size()), output, length);
  }
  if (ok && !answer.empty()) std::copy(answer.begin(), answer.end(), data);
  return ok;
}

bool Win32UsbPlatform::Probe(UsbHandle handle, Backend backend) {
  if (!IsUsable(handle)) {
    last_error_ = ERROR_INVALID_HANDLE;
    return false;
  }
  if (backend == Backend::Property) {
    const wire::KsProperty query = wire::EncodeSetSupportProbe();
    return DriverCall(handle, wire::kIoctlKsProperty, query.data(),
                      static_cast<std::uint32_t>(query.size()), nullptr, 0);
  }
  const wire::GenericRecord record = wire::EncodeDescriptorProbeRecord();
  std::uint8_t descriptor[wire::kDescriptorProbeLength] = {};  // received, never examined
  return DriverCall(handle, wire::kIoctlControlIn, record.data(),
                    static_cast<std::uint32_t>(record.size()), descriptor, sizeof(descriptor));
}

std::string Win32UsbPlatform::LastError() const {
  if (last_error_ == 0) return "";
  char text[512] = {};
  const DWORD written = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, last_error_, 0, text, sizeof(text), nullptr);
  if (written == 0) return "Windows error " + std::to_string(last_error_);
  std::string words(text, written);
  while (!words.empty() && (words.back() == '\r' || words.back() == '\n' || words.back() == ' ')) {
    words.pop_back();
  }
  return words;
}

bool Win32UsbPlatform::DriverCall(UsbHandle handle, std::uint32_t code, const void* input,
                                  std::uint32_t input_size, void* output,
                                  std::uint32_t output_size) {
  DWORD returned = 0;  // the transferred count is not passed on
  if (DeviceIoControl(ToHandle(handle), code, const_cast<void*>(input), input_size, output,
                      output_size, &returned, nullptr)) {
    return true;
  }
  RememberLastError();
  return false;
}

void Win32UsbPlatform::RememberLastError() {
  last_error_ = GetLastError();
}

}  // namespace velmora
