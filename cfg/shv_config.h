// SHVConfig: the configurator COM object the management console creates. It
// has no state: the settings live in the registry only, the default
// configuration in the settings key and one configuration per network policy
// that names one below it.
#pragma once

#include "base/com_object.h"
#include "cfg/config_module.h"
#include "platform/nap_sdk.h"

namespace shv_cfg {

// Answers for INapComponentConfig, INapComponentConfig2 and
// INapComponentConfig3, one object behind all three.
class SHVConfig : public INapComponentConfig3, public base_n::ref_counted_t<SHVConfig, &module_locks> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE IsUISupported(BOOL* supported) override;
  // Shows the settings dialog: S_OK once it has closed, and also when it
  // could not be shown (logged). When the settings cannot be read, a message
  // instead and the reason's HRESULT.
  HRESULT STDMETHODCALLTYPE InvokeUI(HWND parent) override;
  // The blob of the current settings in task memory the caller frees.
  // E_POINTER for a null output, E_OUTOFMEMORY when the buffer cannot be had,
  // HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW) for a blob longer than the
  // 16-bit count can say, the registry's error as an HRESULT when the key
  // exists but cannot be read; the outputs are untouched on every failure.
  HRESULT STDMETHODCALLTYPE GetConfig(UINT16* count, BYTE** data) override;
  // Writes the settings of the blob as one change. E_POINTER for null data
  // with a count, E_INVALIDARG for a blob the store rejects (nothing is
  // written then), HRESULT_FROM_WIN32 of the error of the write that failed,
  // after the settings written before it were put back (the log says what
  // was refused, and which settings could not be put back if any).
  HRESULT STDMETHODCALLTYPE SetConfig(UINT16 count, BYTE* data) override;

  // TRUE and remoteConfigTypeConfigBlob: the console may edit a blob it
  // keeps through InvokeUIFromConfigBlob. E_POINTER for a null output.
  HRESULT STDMETHODCALLTYPE IsRemoteConfigSupported(BOOL* supported, UINT8* type) override;
  // E_NOTIMPL: another machine's settings are edited through their blob.
  HRESULT STDMETHODCALLTYPE InvokeUIForMachine(HWND parent, CountedString* machine) override;
  // The settings dialog over the blob handed in, writing nothing to the
  // registry. OK: the edited blob in task memory the caller frees, and
  // changed TRUE when it differs from the one handed in. Cancel: no blob (0,
  // null) and changed FALSE. A dialog that could not be shown is no answer
  // of the administrator's: the HRESULT of the system's last error (E_FAIL
  // when it names none). E_POINTER for a null output or null data with a
  // count, E_INVALIDARG for a blob the store would reject (no dialog then);
  // the outputs are 0, null and FALSE on every failure.
  HRESULT STDMETHODCALLTYPE InvokeUIFromConfigBlob(HWND parent, UINT16 in_count, BYTE* in_data, UINT16* out_count,
                                                   BYTE** out_data, BOOL* changed) override;

  // Configuration id, for the network policy the console gave it to; the
  // registry's error as an HRESULT when the store fails.
  // NewConfig: a copy of the default configuration, no configuration to any
  // reader until it is whole; E_INVALIDARG for id 0, NAP_E_SHV_CONFIG_EXISTED
  // when the id is taken (it stays as it was).
  HRESULT STDMETHODCALLTYPE NewConfig(UINT32 id) override;
  // E_INVALIDARG for id 0, NAP_E_SHV_CONFIG_NOT_FOUND for an id that does
  // not exist.
  HRESULT STDMETHODCALLTYPE DeleteConfig(UINT32 id) override;
  // Every configuration but the default; S_OK also when there was none.
  HRESULT STDMETHODCALLTYPE DeleteAllConfig() override;
  // As GetConfig and SetConfig, for configuration id (0: the default, exactly
  // as GetConfig and SetConfig); NAP_E_SHV_CONFIG_NOT_FOUND for an id that
  // does not exist, which SetConfigToID never makes. SetConfigToID checks the
  // blob first: E_INVALIDARG for a malformed one, whatever the store's state.
  HRESULT STDMETHODCALLTYPE GetConfigFromID(UINT32 id, UINT16* count, BYTE** data) override;
  HRESULT STDMETHODCALLTYPE SetConfigToID(UINT32 id, UINT16 count, BYTE* data) override;
};

}  // namespace shv_cfg
