// SHVModule: healthval's module object. It counts the module's locks, keeps
// the cached class factory of SHVValidator, runs the registry script and
// registers the validator with the NAP server.
#pragma once

#include "common/component_ids.h"
#include "platform/nap_sdk.h"

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
