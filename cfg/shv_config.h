// SHVConfig: the configurator COM object the management console creates. It
// has no state: the settings live in the registry only.
#pragma once

#include "base/com_object.h"
#include "cfg/config_module.h"
#include "platform/nap_sdk.h"

namespace shv_cfg {

class SHVConfig : public INapComponentConfig, public base_n::ref_counted_t<SHVConfig, &module_locks> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE IsUISupported(BOOL* supported) override;
  // Shows the settings dialog: S_OK once it has closed. When the settings
  // cannot be read, a message instead and the reason's HRESULT.
  HRESULT STDMETHODCALLTYPE InvokeUI(HWND parent) override;
  // The blob of the current settings in task memory the caller frees.
  // E_POINTER for a null output, E_OUTOFMEMORY when the buffer cannot be had,
  // HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW) for a blob longer than the
  // 16-bit count can say, the registry's error as an HRESULT when the key
  // exists but cannot be read; the outputs are untouched on every failure.
  HRESULT STDMETHODCALLTYPE GetConfig(UINT16* count, BYTE** data) override;
  // Writes the settings of the blob. E_POINTER for null data with a count,
  // E_INVALIDARG for a blob the store rejects (nothing is written then),
  // HRESULT_FROM_WIN32 of the first failed write's error when any of the
  // five was not stored (all five are tried; the log says which were).
  HRESULT STDMETHODCALLTYPE SetConfig(UINT16 count, BYTE* data) override;
};

}  // namespace shv_cfg
