// SHVModule: healthval's module object. It counts the module's locks, keeps
// the cached class factory of SHVValidator, runs the registry script and
// registers the validator with the NAP server.
#pragma once

#include "platform/nap_sdk.h"

// {0C5C9CEC-1FF7-42E3-AC8F-4D9BAE296C5D}
inline constexpr CLSID CLSID_SHVConfig = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};

class SHVModule {
 public:
  static HRESULT can_unload_now();
  static HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** object);
  static HRESULT register_server();
  static HRESULT unregister_server();

  static HRESULT register_shv();
  static HRESULT unresister_shv();

  // The entry point's work for one notification; reserved as the system
  // passes it (null at a detach: an unload, not process exit).
  static BOOL entry(HINSTANCE module, DWORD reason, LPVOID reserved);
};
