// naphost unload-check: what the validator's DllCanUnloadNow answers before,
// during and after a request, as a host deciding to unload it would see.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "base/com_ptr.h"
#include "tools/naphost/commands.h"
#include "tools/naphost/host_util.h"
#include "tools/naphost/nap_request.h"

namespace {

const char* answer(HRESULT hr) { return hr == S_OK ? "S_OK (may unload)" : hr == S_FALSE ? "S_FALSE (must stay)" : "failed"; }

int run(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::puts("usage: naphost unload-check\n\nPrints DllCanUnloadNow of the registered validator's module with no\n"
              "object, with an object alive, while a request is in progress after every\nobject was released, and after it completed.");
    return 0;
  }
  if (argc != 1) {
    std::fprintf(stderr, "naphost unload-check: takes no arguments (see --help)\n");
    return 2;
  }
  HMODULE module = LoadLibraryA("healthval.dll");
  auto can_unload = module ? reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")))
                           : nullptr;
  if (can_unload == nullptr) {
    std::fprintf(stderr, "naphost unload-check: cannot load healthval.dll and its DllCanUnloadNow\n");
    return 1;
  }
  std::printf("no object:                %s\n", answer(can_unload()));
  base_n::com_ptr_t<INapSystemHealthValidator> validator;
  const HRESULT hr = CoCreateInstance(CLSID_SHVValidator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_INapSystemHealthValidator, validator.out_void());
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost unload-check: cannot create the validator: %s\n", naphost::hresult_text(hr).c_str());
    return 1;
  }
  std::printf("object alive:             %s\n", answer(can_unload()));

  // A request held open inside the worker until we have looked.
  std::mutex lock;
  std::condition_variable changed;
  bool inside = false, release = false;
  naphost::call_log_t log;
  naphost::nap_request_t request({soh_wire::make_system_health_id(0x0073FA02),
                                  soh_wire::make_vendor_specific(0x0073FA02, "1 unload-check digest")},
                                 false, log);
  request.set_gate([&] {
    std::unique_lock<std::mutex> guard(lock);
    inside = true;
    changed.notify_all();
    changed.wait(guard, [&] { return release; });
  });
  naphost::nap_callback_t callback(log);
  if (validator->Validate(&request, 2000, &callback) != E_PENDING) {
    std::fprintf(stderr, "naphost unload-check: the request was refused\n");
    return 1;
  }
  validator.reset();
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return inside; });
  }
  std::printf("request in progress:      %s\n", answer(can_unload()));
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  changed.notify_all();
  callback.wait(std::chrono::seconds(60));
  HRESULT after = can_unload();
  for (int i = 0; i < 5000 && after != S_OK; ++i) {  // the worker leaves the module just after OnComplete
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    after = can_unload();
  }
  std::printf("after completion:         %s\n", answer(after));
  return 0;
}

const naphost::command_t command("unload-check", "DllCanUnloadNow before, during and after a request", &run);

}  // namespace
