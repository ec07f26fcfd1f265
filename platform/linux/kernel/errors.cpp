// Stand-in for the thread's last-error value and the system message table.
// The texts are those an English (1033) system shows for the codes this system
// meets; other codes fail as FormatMessage does for an unknown message id.
#include <cstdlib>
#include <cstring>

#include "platform/linux/kernel/errno_guard.h"
#include "platform/win32.h"

namespace {

thread_local DWORD last_error = 0;

struct message_t {
  DWORD code;
  const char* text;
};

// Win32 error codes; HRESULTs of FACILITY_WIN32 (0x8007xxxx) map onto them.
const message_t win32_messages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {31, "A device attached to the system is not functioning."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {288, "Attempt to release mutex not owned by caller."},
    {298, "Too many posts were made to a semaphore."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {565, "A threshold limit has been reached for the number of threads."},
    {998, "Invalid access to memory location."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1015, "The registry is corrupted."},
    {1016, "An I/O operation initiated by the registry failed unrecoverably."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1168, "Element not found."},
    {1804, "The specified datatype is invalid."},
    {1812, "The specified image file did not contain a resource section."},
    {1813, "The specified resource type cannot be found in the image file."},
    {1814, "The specified resource name cannot be found in the image file."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {10091, "WSAStartup cannot function at this time because the underlying system it uses to provide network services is currently unavailable."},
    {10092, "The Windows Sockets version requested is not supported."},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed."},
};

// HRESULTs outside FACILITY_WIN32 that the COM layer returns.
const message_t hresult_messages[] = {
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004004u, "Operation aborted"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80040110u, "Class does not support aggregation (or class object is remote)"},
    {0x80040111u, "ClassFactory cannot supply requested class"},
    {0x80040154u, "Class not registered"},
    {0x800401F0u, "CoInitialize has not been called."},
    {0x800401F3u, "Invalid class string"},
    {0x800401F9u, "Error in the DLL"},
    {0x80040150u, "Could not read key from registry"},
    {0x8000000Au, "The data necessary to complete this operation is not yet available."},
    {0x80270001u, "The packet is invalid."},
    {0x80270002u, "A SoH was missing from the packet."},
};

const char* find_message(DWORD code) {
  const message_t* table = win32_messages;
  size_t count = sizeof(win32_messages) / sizeof(win32_messages[0]);
  DWORD key = code;
  if ((code & 0xFFFF0000u) == 0x80070000u) {
    key = code & 0xFFFFu;
  } else if (code & 0x80000000u) {
    table = hresult_messages;
    count = sizeof(hresult_messages) / sizeof(hresult_messages[0]);
  }
  for (size_t i = 0; i < count; ++i) {
    if (table[i].code == key) return table[i].text;
  }
  return nullptr;
}

}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD code) { last_error = code; }

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments) {
  const plat_linux::errno_guard_t keep_errno;
  (void)source;
  (void)arguments;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Only the English table is installed; "default language" finds it too.
  if (language_id != 0 && language_id != MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const char* text = find_message(message_id);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const size_t length = std::strlen(text) + 2;  // the system's texts end in CR LF
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    char* out = static_cast<char*>(std::malloc(length + 1));
    if (out == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(out, text, length - 2);
    std::memcpy(out + length - 2, "\r\n", 3);
    *reinterpret_cast<LPSTR*>(buffer) = out;
    return static_cast<DWORD>(length);
  }
  if (size < length + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text, length - 2);
  std::memcpy(buffer + length - 2, "\r\n", 3);
  return static_cast<DWORD>(length);
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPWSTR buffer,
                     DWORD size, va_list* arguments) {
  const plat_linux::errno_guard_t keep_errno;
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char* narrow = nullptr;
  const DWORD n = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, message_id, language_id,
                                 reinterpret_cast<LPSTR>(&narrow), 0, arguments);
  if (n == 0) return 0;
  // The table is ASCII: one unit per byte.
  const DWORD units = n;
  WCHAR* out = buffer;
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    out = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
    if (out == nullptr) {
      LocalFree(narrow);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *reinterpret_cast<LPWSTR*>(buffer) = out;
  } else if (size < units + 1) {
    LocalFree(narrow);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (DWORD i = 0; i < units; ++i) out[i] = static_cast<unsigned char>(narrow[i]);
  out[units] = 0;
  LocalFree(narrow);
  return units;
}

HLOCAL LocalFree(HLOCAL mem) {
  const plat_linux::errno_guard_t keep_errno;
  std::free(mem);
  return nullptr;
}
