// The console's side of the configurator for the dialog checks: creates the
// configuration class through CoCreateInstance on a single-threaded
// apartment thread with the given thread locale, as the management console
// does, and prints what each call returned.
// Usage: console_host LCID [MODE]   (LCID decimal or 0x hex)
//   ui            InvokeUI without an owner window (the default)
//   get           GetConfig
//   blob IN OUT   InvokeUIFromConfigBlob over the blob in file IN (a network
//                 policy's configuration); what it returns goes to file OUT
//   two           InvokeUI on a second thread as well, in English; the first
//                 dialog (LCID) is closed first, then the second; then the
//                 module is let go and the program's FindResourceW import
//                 is called
//   fail-restore  InvokeUI with the module's VirtualProtect failing after
//                 the hook is installed; then as for two
//   no-owner      InvokeUI, then InvokeUIFromConfigBlob over the default
//                 configuration's blob, each with an owner that is no window
//   lock WHAT [KEY]  the settings key's security (or that of KEY below
//                 HKEY_LOCAL_MACHINE): deny "write", deny "read", or "none"
//   texts TITLE   the texts of the window TITLE's controls, its owner's
//                 title and whether the owner takes input
#include "platform/nap_sdk.h"

#include <sddl.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "base/api_hook.h"
#include "base/com_apartment.h"
#include "common/component_ids.h"
#include "platform/import_slot.h"
#include "tests/support/eventually.h"

namespace {

std::string utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Argument i as given: the narrow arguments are in the system code page,
// which a title in another script does not survive.
std::wstring wide_argument(int i) {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring out = args != nullptr && i < count ? args[i] : L"";
  LocalFree(args);
  return out;
}

// A window's text, also of another process's control.
std::wstring text_of(HWND window) {
  wchar_t buffer[1024] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                      &ignored);
  return buffer;
}

int print_texts(const wchar_t* title) {
  HWND window = FindWindowW(nullptr, title);
  if (window == nullptr) {
    std::printf("no window\n");
    return 1;
  }
  HWND owner = GetWindow(window, GW_OWNER);
  std::printf("owner %s\n", owner != nullptr ? utf8(text_of(owner)).c_str() : "(none)");
  // A box modal to its owner leaves the owner disabled while it is shown.
  if (owner != nullptr) std::printf("owner enabled %d\n", IsWindowEnabled(owner) ? 1 : 0);
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    std::printf("%d %s\n", GetDlgCtrlID(child), utf8(text_of(child)).c_str());
  }
  return 0;
}

int lock_settings(const char* what, const wchar_t* path) {
  // Everyone may do everything, but what is denied: setting values and
  // creating subkeys, or querying values.
  const wchar_t* sddl = std::strcmp(what, "write") == 0  ? L"D:(D;;0x6;;;WD)(A;;KA;;;WD)"
                        : std::strcmp(what, "read") == 0 ? L"D:(D;;0x1;;;WD)(A;;KA;;;WD)"
                                                         : L"D:(A;;KA;;;WD)";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) return 2;
  HKEY key = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
    RegCloseKey(key);
  }
  LocalFree(sd);
  std::printf("lock %s %ld\n", what, static_cast<long>(rc));
  return rc == ERROR_SUCCESS ? 0 : 1;
}

// The program's FindResourceW import, as the system's dialog code calls it.
void** resource_import() {
  std::string error;
  return plat::find_import_slot(GetModuleHandleW(nullptr), "kernel32.dll", "FindResourceW", error);
}
bool import_is_the_systems() {
  void** slot = resource_import();
  return slot != nullptr &&
         *slot == reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "FindResourceW"));
}

// The visible dialog of a thread, or null.
HWND dialog_of_thread(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM out) -> BOOL {
        wchar_t name[16] = {};
        if (IsWindowVisible(window) && GetClassNameW(window, name, 16) > 0 && std::wcscmp(name, L"#32770") == 0) {
          *reinterpret_cast<HWND*>(out) = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Passes the first calls (the hook's install) through, fails the rest.
int protect_calls = 0;
BOOL WINAPI failing_protect(LPVOID address, SIZE_T size, DWORD protection, PDWORD old) {
  if (++protect_calls > 2) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return VirtualProtect(address, size, protection, old);
}

// Lets the module go as the console does, then calls through the import.
void let_go_and_call(INapComponentConfig*& config) {
  config->Release();
  config = nullptr;
  CoFreeUnusedLibrariesEx(0, 0);
  std::printf("unloaded %d\n", GetModuleHandleW(L"healthcfg.dll") == nullptr ? 1 : 0);
  std::fflush(stdout);
  FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  std::printf("FindResourceW answered\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: console_host LCID [ui|get|blob IN OUT|no-owner|two|fail-restore|lock WHAT [KEY]|texts TITLE]\n",
               stderr);
    return 2;
  }
  const std::string mode = argc > 2 ? argv[2] : "ui";
  if (mode == "texts" && argc > 3) return print_texts(wide_argument(3).c_str());
  if (mode == "lock" && argc > 3) {
    return lock_settings(argv[3], argc > 4 ? wide_argument(4).c_str() : L"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings");
  }
  const LCID locale = static_cast<LCID>(std::strtoul(argv[1], nullptr, 0));
  if (!SetThreadLocale(locale)) {
    std::fprintf(stderr, "console_host: the system refuses locale 0x%04lX\n", static_cast<unsigned long>(locale));
    return 2;
  }
  const base_n::com_apartment_t apartment(COINIT_APARTMENTTHREADED);
  if (FAILED(apartment.result())) return 3;
  INapComponentConfig* config = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_SHVConfig, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentConfig,
                                reinterpret_cast<void**>(&config));
  if (FAILED(hr)) {
    std::printf("CoCreateInstance 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  if (mode == "get") {
    UINT16 count = 0;
    BYTE* data = nullptr;
    hr = config->GetConfig(&count, &data);
    std::printf("GetConfig 0x%08lX %u\n", static_cast<unsigned long>(hr), static_cast<unsigned>(count));
    CoTaskMemFree(data);
    config->Release();
    return 0;
  }
  if (mode == "blob" && argc > 4) {
    std::ifstream in(argv[3], std::ios::binary);
    std::string given((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    INapComponentConfig2* second = nullptr;
    hr = config->QueryInterface(IID_INapComponentConfig2, reinterpret_cast<void**>(&second));
    if (FAILED(hr)) {
      std::printf("QueryInterface 0x%08lX\n", static_cast<unsigned long>(hr));
      config->Release();
      return 1;
    }
    UINT16 count = 0;
    BYTE* data = nullptr;
    BOOL changed = FALSE;
    hr = second->InvokeUIFromConfigBlob(nullptr, static_cast<UINT16>(given.size()),
                                        reinterpret_cast<BYTE*>(given.data()), &count, &data, &changed);
    std::printf("InvokeUIFromConfigBlob 0x%08lX changed %d count %u\n", static_cast<unsigned long>(hr),
                changed ? 1 : 0, static_cast<unsigned>(count));
    std::ofstream(argv[4], std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), count);
    CoTaskMemFree(data);
    second->Release();
    config->Release();
    return SUCCEEDED(hr) ? 0 : 1;
  }
  if (mode == "no-owner") {
    HWND not_a_window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5A5A0));
    hr = config->InvokeUI(not_a_window);
    std::printf("InvokeUI 0x%08lX\n", static_cast<unsigned long>(hr));
    INapComponentConfig2* second = nullptr;
    if (SUCCEEDED(config->QueryInterface(IID_INapComponentConfig2, reinterpret_cast<void**>(&second)))) {
      // Version 2, no server name, port 2193, time-out and cache time 10000,
      // validation on.
      const DWORD blob[6] = {2, 0, 2193, 10000, 10000, 1};
      UINT16 count = 7;
      BYTE* data = nullptr;
      BOOL changed = TRUE;
      hr = second->InvokeUIFromConfigBlob(not_a_window, sizeof(blob), reinterpret_cast<BYTE*>(const_cast<DWORD*>(blob)),
                                          &count, &data, &changed);
      std::printf("InvokeUIFromConfigBlob 0x%08lX changed %d count %u\n", static_cast<unsigned long>(hr),
                  changed ? 1 : 0, static_cast<unsigned>(count));
      CoTaskMemFree(data);
      second->Release();
    }
    config->Release();
    return 0;
  }
  BOOL has_ui = FALSE;
  hr = config->IsUISupported(&has_ui);
  std::printf("IsUISupported 0x%08lX %d\n", static_cast<unsigned long>(hr), has_ui ? 1 : 0);
  std::fflush(stdout);
  if (mode == "two") {
    // Two console threads, each with its dialog; the first one is closed
    // while the second stays open, then the second. The object is
    // free-threaded; Wine hosts a class of the Neutral model in the main
    // apartment and hands other apartments a proxy it cannot build for this
    // interface, so the second thread calls the object itself, as code in
    // the neutral apartment would.
    const DWORD first_thread = GetCurrentThreadId();
    std::atomic<DWORD> second_thread{0};
    HANDLE first_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The second dialog opens once the first is shown: Wine's font code
    // sometimes corrupts its heap when two threads lay out their first text
    // at once, which is not what this case is about.
    std::thread second([config, first_thread, &second_thread] {
      const base_n::com_apartment_t its_apartment(COINIT_MULTITHREADED);
      SetThreadLocale(0x0409);
      test_support::eventually([&] { return dialog_of_thread(first_thread) != nullptr; }, std::chrono::seconds(20));
      second_thread = GetCurrentThreadId();
      const HRESULT r = config->InvokeUI(nullptr);
      std::printf("second InvokeUI 0x%08lX\n", static_cast<unsigned long>(r));
      std::fflush(stdout);
    });
    // Closes each dialog as its Cancel button would, in that order.
    std::thread closer([&] {
      HWND first = nullptr, second_dialog = nullptr;
      test_support::eventually(
          [&] {
            first = dialog_of_thread(first_thread);
            second_dialog = second_thread != 0 ? dialog_of_thread(second_thread) : nullptr;
            return first != nullptr && second_dialog != nullptr;
          },
          std::chrono::seconds(20));
      PostMessageW(first, WM_COMMAND, IDCANCEL, 0);
      WaitForSingleObject(first_done, 20000);
      PostMessageW(second_dialog, WM_COMMAND, IDCANCEL, 0);
    });
    hr = config->InvokeUI(nullptr);
    std::printf("first InvokeUI 0x%08lX, redirected while the other is open %d\n", static_cast<unsigned long>(hr),
                import_is_the_systems() ? 0 : 1);
    std::fflush(stdout);
    SetEvent(first_done);
    closer.join();
    second.join();
    CloseHandle(first_done);
    std::printf("import restored %d\n", import_is_the_systems() ? 1 : 0);
    let_go_and_call(config);
    return 0;
  }
  if (mode == "fail-restore") {
    {
      base_n::api_hook_t failing(reinterpret_cast<const void*>(&failing_protect), "healthcfg.dll", "kernel32.dll",
                                 "VirtualProtect", base_n::api_hook_t::policy_throw);
      hr = config->InvokeUI(nullptr);
    }
    std::printf("InvokeUI 0x%08lX, import restored %d\n", static_cast<unsigned long>(hr),
                import_is_the_systems() ? 1 : 0);
    let_go_and_call(config);
    return 0;
  }
  hr = config->InvokeUI(nullptr);
  std::printf("InvokeUI 0x%08lX\n", static_cast<unsigned long>(hr));
  config->Release();
  return SUCCEEDED(hr) ? 0 : 1;
}
