// Stand-in for COM: in-process activation through the registry stand-in, the
// task allocator and GUID texts. Left out on purpose: apartments and
// marshalling (CoInitializeEx only counts), and out-of-process servers.
//
// The subset the tree uses, with the Windows declarations' layouts, vtable
// orders and result codes. A class is found under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 and activated through the
// module's exported DllGetClassObject.
#pragma once

#include <cstring>

#include "platform/linux/win32_types.h"

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef GUID* LPGUID;
typedef CLSID* LPCLSID;
typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

// ---- HRESULT ----------------------------------------------------------------

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x) win32_to_hresult(static_cast<unsigned long>(x))
constexpr HRESULT win32_to_hresult(unsigned long code) {
  return static_cast<HRESULT>(code) <= 0
             ? static_cast<HRESULT>(code)
             : static_cast<HRESULT>((code & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)

#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001u)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_ABORT static_cast<HRESULT>(0x80004004u)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_UNEXPECTED static_cast<HRESULT>(0x8000FFFFu)
#define E_ACCESSDENIED static_cast<HRESULT>(0x80070005u)
#define E_HANDLE static_cast<HRESULT>(0x80070006u)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define E_PENDING static_cast<HRESULT>(0x8000000Au)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE static_cast<HRESULT>(0x80040111u)
#define REGDB_E_READREGDB static_cast<HRESULT>(0x80040150u)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154u)
#define CO_E_CLASSSTRING static_cast<HRESULT>(0x800401F3u)
#define CO_E_DLLNOTFOUND static_cast<HRESULT>(0x800401F8u)
#define CO_E_ERRORINDLL static_cast<HRESULT>(0x800401F9u)
#define SELFREG_E_CLASS static_cast<HRESULT>(0x80040201u)
#define DISP_E_EXCEPTION static_cast<HRESULT>(0x80020009u)

// ---- Interfaces ---------------------------------------------------------------

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// The signatures of an in-process server's exports.
typedef HRESULT(STDMETHODCALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* LPFNCANUNLOADNOW)();

// ---- Calls ------------------------------------------------------------------

enum tagCLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
};
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

// The task allocator (one heap for every module of the process, so memory that
// one module allocates another may free).
LPVOID CoTaskMemAlloc(size_t size);
LPVOID CoTaskMemRealloc(LPVOID memory, size_t size);
void CoTaskMemFree(LPVOID memory);

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", hexadecimal digits of either case.
// Anything else is CO_E_CLASSSTRING (IIDFromString: E_INVALIDARG) and leaves
// the output unchanged.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
// Upper-case brace form; returns the characters written including the
// terminator (39), or 0 when max is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR out, int max);

// Threading model apartments do not exist here: both calls only count.
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
void CoUninitialize();

// Activates an in-process server: HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32
// (default value: the module path) -> LoadLibraryA -> DllGetClassObject ->
// IClassFactory::CreateInstance. The module stays loaded until
// CoFreeUnusedLibraries finds that its DllCanUnloadNow agrees, and agrees
// again at a later call once the delay has passed with no activation of the
// module in between, as COM does: an object's last Release may still be
// running in the module when the count it reports reaches zero.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID server_info, REFIID riid,
                         LPVOID* object);
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object);
void CoFreeUnusedLibraries();  // the default delay: ten minutes
// delay_ms: how long a module must have agreed before it goes (INFINITE: the
// default; 0: at the next call that finds it still agreeing).
void CoFreeUnusedLibrariesEx(DWORD delay_ms, DWORD reserved);
