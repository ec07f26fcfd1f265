// A small in-process COM server: one class, a class factory, and the module
// lock count that DllCanUnloadNow reports.
#include <atomic>
#include <new>

#include "test_server.h"

#define SERVER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using test_support::clsid_test_counter;
using test_support::iid_test_counter;
using test_support::test_counter_t;

std::atomic<long> module_locks{0};

class counter_t : public test_counter_t {
 public:
  counter_t() { ++module_locks; }
  virtual ~counter_t() { --module_locks; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == iid_test_counter) {
      *object = static_cast<test_counter_t*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Increment(LONG* value) override {
    if (value == nullptr) return E_POINTER;
    *value = ++count_;
    return S_OK;
  }

 private:
  std::atomic<long> references_{1};
  LONG count_ = 0;
};

class factory_t : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static: its references only keep the module.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++module_locks); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--module_locks); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* counter = new (std::nothrow) counter_t;
    if (counter == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = counter->QueryInterface(riid, object);
    counter->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) ++module_locks;
    else --module_locks;
    return S_OK;
  }
};

factory_t factory;

}  // namespace

SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != clsid_test_counter) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

SERVER_EXPORT HRESULT DllCanUnloadNow() { return module_locks.load() == 0 ? S_OK : S_FALSE; }

// For the tests: the live objects and locks.
SERVER_EXPORT long test_server_locks() { return module_locks.load(); }
