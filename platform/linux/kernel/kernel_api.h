// Stand-in for the kernel (kernel32, and the C runtime's Windows names) over
// POSIX. Left out on purpose: creating threads (the C++ runtime does that),
// named objects, waits on several objects, file calls but writing to a file.
//
// Declarations with the Win32 signatures and result conventions (a failing
// call sets the thread's last error and returns the documented failure value).
#pragma once

#include <cstdarg>
#include <ctime>
#include <pthread.h>

#include "platform/linux/win32_types.h"

// Errors and messages
DWORD GetLastError();
void SetLastError(DWORD code);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, va_list* arguments);
// The same texts in UTF-16.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPWSTR buffer, DWORD size, va_list* arguments);
HLOCAL LocalFree(HLOCAL mem);

// Process, threads, thread-local storage
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
HANDLE GetCurrentThread();
BOOL GetThreadTimes(HANDLE thread, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                    FILETIME* user);
DWORD TlsAlloc();
BOOL TlsFree(DWORD index);
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);

// Clock
void GetSystemTimeAsFileTime(FILETIME* out);

// Synchronisation objects
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* cs, DWORD spin_count);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LONG* previous);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL CloseHandle(HANDLE object);

// Files: only what the logger needs, writing to a C runtime descriptor.
intptr_t _get_osfhandle(int fd);

// The C runtime's secure forms under their Windows names and argument order;
// 0 or an errno value. strerror_s copies the text of an errno value,
// truncated to size - 1 characters; localtime_s converts to local time.
int strerror_s(char* buffer, size_t size, int error);
int localtime_s(struct tm* out, const time_t* time);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, void* overlapped);

// Dynamic libraries. Windows library names are mapped to shared-object names
// in platform/linux/kernel/loader.cpp (see the comment there).
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
HMODULE GetModuleHandleA(LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// FROM_ADDRESS treats name as an address inside the module; without
// UNCHANGED_REFCOUNT the module gains a reference (release with FreeLibrary).
// PIN keeps the module loaded for the rest of the process.
BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);

// Resources of a module (see platform/resource_section.h). A handle found in
// a module's section stays valid while the module is loaded.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// The thread's locale: per thread, starting from the process default, which
// comes from the environment's locale (LC_ALL, then LC_MESSAGES, then LANG:
// de_AT -> 0x0C07), else English (United States), 0x0409.
LCID GetThreadLocale();
BOOL SetThreadLocale(LCID locale);
// The system's default locale: the environment's (LC_ALL, LC_MESSAGES, LANG).
LCID GetSystemDefaultLCID();
LCID GetUserDefaultLCID();

// Debugger output: one line per call to the file named by SHV_DEBUG_OUTPUT, or
// to standard error when it is unset.
void OutputDebugStringA(LPCSTR text);

// Code pages: CP_ACP and CP_UTF8 are UTF-8 here; other numbers go to iconv as
// "CP<n>".
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_length, LPSTR out,
                        int out_size, LPCSTR default_char, BOOL* used_default);
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int out_size);

// Memory protection: mprotect over the pages of the range; the previous
// protection is that of the first page, as the system reports it.
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_EXECUTE 0x10u
#define PAGE_EXECUTE_READ 0x20u
#define PAGE_EXECUTE_READWRITE 0x40u
BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD protection, PDWORD old_protection);

// Case-insensitive comparison of ASCII text (<0, 0, >0).
int lstrcmpiA(LPCSTR a, LPCSTR b);
