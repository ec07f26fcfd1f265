// A host that unloads healthval as soon as DllCanUnloadNow allows, in a loop:
// no worker may still be running module code that is gone.
#include <gtest/gtest.h>

#include <chrono>

#include "base/com_ptr.h"
#include "common/component_ids.h"
#include "common/settings.h"
#include "registry_fixture.h"
#include "eventually.h"
#include "tools/naphost/nap_request.h"

namespace {

TEST(healthval_unload, unload_as_soon_as_allowed) {
  test_support::temp_store_t store;
  setenv("SHV_DEBUG_OUTPUT", (store.dir() + "/debug.log").c_str(), 1);
  HMODULE napsdk = LoadLibraryA("napsdk.dll");
  ASSERT_NE(napsdk, nullptr);
  ASSERT_EQ(reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(napsdk, "DllRegisterServer")))(), S_OK);
  shv_settings::write("validate", 0u);  // answered at once: the worker ends right after OnComplete
  for (int round = 0; round < 25; ++round) {
    HMODULE module = LoadLibraryA("healthval.dll");
    ASSERT_NE(module, nullptr);
    auto get = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, LPVOID*)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto can_unload = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_TRUE(get && can_unload);
    naphost::call_log_t log;
    naphost::nap_request_t request({}, true, log);
    naphost::nap_callback_t callback(log);
    {
      base_n::com_ptr_t<IClassFactory> factory;
      ASSERT_EQ(get(CLSID_SHVValidator, IID_IClassFactory, factory.out_void()), S_OK);
      base_n::com_ptr_t<INapSystemHealthValidator> validator;
      ASSERT_EQ(factory->CreateInstance(nullptr, IID_INapSystemHealthValidator, validator.out_void()), S_OK);
      ASSERT_EQ(validator->Validate(&request, 0, &callback), E_PENDING);
    }
    ASSERT_TRUE(callback.wait(std::chrono::seconds(10)));
    // The host unloads at the first S_OK, without waiting for anything else.
    ASSERT_TRUE(test_support::eventually([&] { return can_unload() == S_OK; }, test_support::poll_t::yield));
    FreeLibrary(module);
    // The request objects live on this stack: the worker must be done with them.
    test_support::eventually([&] { return request.references() == 1 && callback.references() == 1; });
    EXPECT_EQ(request.references(), 1);
  }
  // The module does go away once its last worker has left it.
  EXPECT_TRUE(test_support::eventually([] { return GetModuleHandleA("healthval.dll") == nullptr; }));
  FreeLibrary(napsdk);
  unsetenv("SHV_DEBUG_OUTPUT");
}

}  // namespace
