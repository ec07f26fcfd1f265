// The NAP server's management class: keeps the validators registered with it
// under a registry key of its own, as the NAP server would show them.
#include <string>

#include "base/registry_script.h"
#include "kern/regkey.h"
#include "kern/strings.h"
#include "kern/unicode.h"
#include "platform/linux/napsdk/napsdk.h"

namespace napsdk {

// HKLM\SOFTWARE\NapServer\SystemHealthValidators\<id as 8 hex digits>
const char16_t validators_key[] = u"SOFTWARE\\NapServer\\SystemHealthValidators";

namespace {

std::u16string id_key(SystemHealthEntityId id) {
  return std::u16string(validators_key) + u"\\" + to_wide(string_format("%08X", static_cast<unsigned>(id)));
}

std::u16string guid_text(const CLSID& clsid) {
  char16_t buffer[64] = {};
  StringFromGUID2(clsid, plat::wstr(buffer), 64);
  return buffer;
}

std::u16string counted(const CountedString& s) {
  if (s.string == nullptr) return std::u16string();
  return std::u16string(plat::u16(s.string), s.length);
}

LSTATUS set_text(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, plat::wstr(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

LSTATUS set_number(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, plat::wstr(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

class server_management_t : public INapServerManagement,
                            public base_n::ref_counted_t<server_management_t, &locks> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return base_n::query_single<INapServerManagement>(this, riid, IID_INapServerManagement, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE RegisterSystemHealthValidator(const NapComponentRegistrationInfo* info,
                                                          const CLSID* clsid) override {
    if (info == nullptr || clsid == nullptr) return E_POINTER;
    try {
      const std::u16string path = id_key(info->id);
      win::regkey_t existing;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str()), 0, KEY_READ, existing.put()) == ERROR_SUCCESS) {
        return NAP_E_CONFLICTING_ID;
      }
      win::regkey_t key;
      LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str()), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                   nullptr, key.put(), nullptr);
      if (rc == ERROR_SUCCESS) rc = set_number(key.get(), u"Id", info->id);
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"FriendlyName", counted(info->friendlyName));
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"Description", counted(info->description));
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"Version", counted(info->version));
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"VendorName", counted(info->vendorName));
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"InfoClsid", guid_text(info->infoClsid));
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"ConfigClsid", guid_text(info->configClsid));
      if (rc == ERROR_SUCCESS) rc = set_text(key.get(), u"Clsid", guid_text(*clsid));
      if (rc != ERROR_SUCCESS) {
        // No half-written record is left behind.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str()));
        return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE UnregisterSystemHealthValidator(SystemHealthEntityId id) override {
    try {
      const std::u16string path = id_key(id);
      const LSTATUS rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str()));
      if (rc == ERROR_FILE_NOT_FOUND) return NAP_E_NOT_REGISTERED;
      if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetFailureCategoryMappings(SystemHealthEntityId id, const FailureCategoryMapping) override {
    try {
      win::regkey_t key;
      const std::u16string path = id_key(id);
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, plat::wstr(path.c_str()), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return NAP_E_NOT_REGISTERED;
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;  // accepted; nothing of this system reads the mappings
  }
};

}  // namespace

HRESULT create_server_management(REFIID riid, void** object) {
  return base_n::get_class_factory<server_management_t, &locks>(riid, object);
}

}  // namespace napsdk
