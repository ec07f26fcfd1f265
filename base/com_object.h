// The COM plumbing every class of ours shares: a reference count that deletes
// the object at zero and holds a module lock while the object lives, and a
// class factory with the usual results (E_POINTER, CLASS_E_NOAGGREGATION,
// E_OUTOFMEMORY, the object's QueryInterface).
#pragma once

#include <atomic>
#include <new>

#include "platform/com.h"

namespace base_n {

// The lock count of one module: live objects and server locks. Module types
// provide static lock() and unlock().
struct module_locks_t {
  std::atomic<long> count{0};
  void lock() { count.fetch_add(1); }
  void unlock() { count.fetch_sub(1); }
};

// Reference counting for Derived, which implements QueryInterface itself.
// Lock is a module_locks_t& getter: the module stays locked while objects live.
template <class Derived, module_locks_t& (*Lock)()>
class ref_counted_t {
 public:
  ref_counted_t() { Lock().lock(); }
  virtual ~ref_counted_t() { Lock().unlock(); }
  ref_counted_t(const ref_counted_t&) = delete;
  ref_counted_t& operator=(const ref_counted_t&) = delete;

  ULONG add_ref() { return references_.fetch_add(1) + 1; }
  ULONG release() {
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  std::atomic<ULONG> references_{0};
};

// QueryInterface of an object with one interface besides IUnknown.
template <class I>
HRESULT query_single(I* self, REFIID riid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid)) {
    *object = self;
    self->AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// Creates T objects (default-constructible, with QueryInterface/Release).
template <class T, module_locks_t& (*Lock)()>
class class_factory_t : public IClassFactory, public ref_counted_t<class_factory_t<T, Lock>, Lock> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return query_single<IClassFactory>(this, riid, IID_IClassFactory, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return this->add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return this->release(); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    T* instance = new (std::nothrow) T();
    if (instance == nullptr) return E_OUTOFMEMORY;
    // The object starts at no reference: QueryInterface takes the first one,
    // and a failed one leaves nobody to delete it but us.
    instance->AddRef();
    const HRESULT hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      Lock().lock();
    } else {
      Lock().unlock();
    }
    return S_OK;
  }
};

// Hands out a new factory for T through riid.
template <class T, module_locks_t& (*Lock)()>
HRESULT get_class_factory(REFIID riid, void** object) {
  auto* factory = new (std::nothrow) class_factory_t<T, Lock>();
  if (factory == nullptr) return E_OUTOFMEMORY;
  factory->AddRef();
  const HRESULT hr = factory->QueryInterface(riid, object);
  factory->Release();
  return hr;
}

}  // namespace base_n
