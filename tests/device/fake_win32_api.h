// A recording stand-in for the parts of <windows.h> and <setupapi.h> that the Windows USB platform
// uses, so that its source builds and runs on any host in the tests. The interface detail record,
// the one record whose layout the code depends on, takes the layout of 32-bit or 64-bit Windows
// as FAKE_WIN32_POINTER_BITS says (the tests build the back-end against each): packed to 5 bytes
// on 32-bit, padded to 8 on 64-bit. SetupAPI refuses any other size field, as the system does.
//
// Every function acts on one scripted machine, fake_win32::TheMachine(): the tests say which
// interfaces each class lists, which paths open and what the driver answers, then read back what
// was asked of the system, which handles and blocks are still live, and what was freed twice.
#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using CHAR = char;
using HANDLE = void*;
using HLOCAL = void*;
using HDEVINFO = void*;
using HWND = void*;
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;
struct SP_DEVINFO_DATA;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

struct SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
};

#ifndef FAKE_WIN32_POINTER_BITS
#error "FAKE_WIN32_POINTER_BITS (32 or 64) picks the Windows layout of the detail record"
#endif
#if FAKE_WIN32_POINTER_BITS == 32
#pragma pack(push, 1)
#endif
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  CHAR DevicePath[1];
};
#if FAKE_WIN32_POINTER_BITS == 32
#pragma pack(pop)
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr UINT LMEM_ZEROINIT = 0x40;
inline constexpr UINT LPTR = LMEM_ZEROINIT;  // fixed memory is the fake's only kind
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, const char* enumerator, HWND parent,
                              DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, SP_DEVINFO_DATA* device, const GUID* class_guid,
                                 DWORD index, SP_DEVICE_INTERFACE_DATA* iface);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* iface,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detail_size,
                                      DWORD* required_size, SP_DEVINFO_DATA* device);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list);
HANDLE CreateFileA(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD creation, DWORD flags, HANDLE template_file);
BOOL CloseHandle(HANDLE handle);
BOOL DeviceIoControl(HANDLE handle, DWORD code, void* input, DWORD input_size, void* output,
                     DWORD output_size, DWORD* returned, OVERLAPPED* overlapped);
HLOCAL LocalAlloc(UINT flags, SIZE_T size);
HLOCAL LocalFree(HLOCAL block);
DWORD GetLastError();
DWORD FormatMessageA(DWORD flags, const void* source, DWORD message, DWORD language, char* buffer,
                     DWORD size, va_list* arguments);

namespace fake_win32 {

// The detail record's size field as the system of the chosen layout demands it.
inline constexpr DWORD kDetailRecordSize = FAKE_WIN32_POINTER_BITS == 32 ? 5 : 8;
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == kDetailRecordSize);

using Bytes = std::vector<std::uint8_t>;
using GuidBytes = std::array<std::uint8_t, 16>;

// One interface of a class list. An unreadable one fails the size query or the path read.
struct Interface {
  std::string path;
  bool size_readable = true;
  bool path_readable = true;
};

// What the driver does with the next DeviceIoControl. A failing driver first scribbles 0xEE over
// the whole output buffer of a call that answers into it (a generic IN transfer, a property GET),
// as a driver that gave up half way through an answer may.
struct DriverReply {
  bool ok = true;
  Bytes answer;  // written to the start of the output buffer on success (cut to its size)
  DWORD error = ERROR_GEN_FAILURE;
};

struct ClassRequest {
  GuidBytes guid;
  DWORD flags;
};

struct DetailCall {
  std::size_t index;  // which interface of the list
  bool size_query;    // called without a detail record
  DWORD buffer_size;  // the size the caller gave
  DWORD size_field;   // the record's cbSize (size queries: 0)
};

struct CreateCall {
  std::string path;
  DWORD access, share, creation, flags;
  bool security_null, template_null;
};

struct IoctlCall {
  HANDLE handle;
  DWORD code;
  Bytes input;                // the input buffer when the driver got it
  bool input_is_local_block;  // the input is the whole of a live LocalAlloc block
  bool output_null;
  DWORD output_size;
  Bytes output_at_call;  // the output buffer when the driver got it
  bool returned_given, overlapped_null;
};

struct Machine {
  // The world as scripted by a test.
  std::map<GuidBytes, std::vector<Interface>> classes;
  bool class_list_fails = false;
  std::size_t enumeration_fails_at = SIZE_MAX;  // an error other than the list's end here
  std::set<std::string> refused_paths;          // CreateFileA answers ERROR_ACCESS_DENIED
  bool local_alloc_fails = false;
  std::deque<DriverReply> replies;  // taken one per DeviceIoControl; empty = succeed, no answer

  // What the code under test asked.
  std::vector<ClassRequest> class_requests;
  std::vector<DWORD> enumerated_indexes;
  std::vector<DetailCall> detail_calls;
  std::vector<CreateCall> creates;
  std::vector<HANDLE> closes;
  std::vector<IoctlCall> ioctls;
  std::vector<UINT> local_alloc_flags;
  std::size_t destroyed_lists = 0;
  std::size_t local_frees = 0;

  // What is still live, and what was handed back that was not (or no longer) live.
  std::set<HANDLE> open_handles;
  std::map<HDEVINFO, GuidBytes> live_lists;   // list and its interface class
  std::map<HLOCAL, std::size_t> live_blocks;  // block and its size
  std::size_t bad_releases = 0;

  DWORD last_error = 0;
  std::uintptr_t next_token = 0x1000;
};

// The one machine the functions above act on.
Machine& TheMachine();
// Frees whatever the code under test left live and starts a new, empty machine.
void ResetMachine();
// The interface-class key for a GUID.
GuidBytes BytesOf(const GUID& guid);
// The text FormatMessageA gives for a code, line end included.
std::string SystemMessage(DWORD code);

}  // namespace fake_win32
