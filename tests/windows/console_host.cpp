// The console's side of the configurator for the dialog checks: creates the
// configuration class through CoCreateInstance on a single-threaded
// apartment thread with the given thread locale, as the management console
// does, calls InvokeUI without an owner window and prints its result.
// Usage: console_host LCID   (decimal or 0x hex)
#include <cstdio>
#include <cstdlib>

#include "base/com_apartment.h"
#include "platform/nap_sdk.h"

namespace {

constexpr CLSID clsid_shv_config = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: console_host LCID\n", stderr);
    return 2;
  }
  const LCID locale = static_cast<LCID>(std::strtoul(argv[1], nullptr, 0));
  if (!SetThreadLocale(locale)) {
    std::fprintf(stderr, "console_host: the system refuses locale 0x%04lX\n", static_cast<unsigned long>(locale));
    return 2;
  }
  const base_n::com_apartment_t apartment(COINIT_APARTMENTTHREADED);
  if (FAILED(apartment.result())) return 3;
  INapComponentConfig* config = nullptr;
  HRESULT hr = CoCreateInstance(clsid_shv_config, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentConfig,
                                reinterpret_cast<void**>(&config));
  if (FAILED(hr)) {
    std::printf("CoCreateInstance 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  BOOL has_ui = FALSE;
  hr = config->IsUISupported(&has_ui);
  std::printf("IsUISupported 0x%08lX %d\n", static_cast<unsigned long>(hr), has_ui ? 1 : 0);
  std::fflush(stdout);
  hr = config->InvokeUI(nullptr);
  std::printf("InvokeUI 0x%08lX\n", static_cast<unsigned long>(hr));
  config->Release();
  return SUCCEEDED(hr) ? 0 : 1;
}
