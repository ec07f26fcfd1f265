// The settings dialog: validation on or off, the central server's address and
// port, and the verdict cache time, taken from a settings source when it
// opens and given back to it on a valid OK.
#pragma once

#include <optional>

#include "common/settings.h"
#include "platform/com.h"
#include "platform/win32.h"

namespace shv_cfg {

// Control ids of dialog 300 and the string ids of the module.
constexpr int dialog_id = 300;
constexpr int id_enabled = 301;
constexpr int id_cache_time = 302;
constexpr int id_server = 303;
constexpr int id_port = 304;
constexpr UINT string_incorrect_value = 305;
constexpr UINT string_not_saved = 306;
constexpr UINT string_not_read = 307;

// Where the dialog's values come from and where OK sends them: the one place
// that knows the store behind the dialog.
class settings_source_t {
 public:
  virtual ~settings_source_t() = default;
  // The values to show; throws (napcommon::com_error_t with the reason) when
  // they cannot be had.
  virtual shv_settings::values_t read() = 0;
  // Keeps what the dialog edits (address, port, cache time, validation), all
  // of them or none: ERROR_SUCCESS, or the Win32 error that kept them out.
  virtual DWORD write(const shv_settings::values_t& values) = 0;
};

// The settings key of the registry, where the validator reads them.
class registry_source_t : public settings_source_t {
 public:
  shv_settings::values_t read() override;
  DWORD write(const shv_settings::values_t& values) override;
};

// A configuration blob the console hands in: the dialog edits a copy in
// memory, and nothing reaches the registry.
class blob_source_t : public settings_source_t {
 public:
  explicit blob_source_t(shv_settings::values_t values) : values_(std::move(values)) {}
  shv_settings::values_t read() override { return values_; }
  DWORD write(const shv_settings::values_t& values) override;
  // What OK kept; none while the dialog has not been confirmed.
  const std::optional<shv_settings::values_t>& kept() const { return kept_; }

 private:
  shv_settings::values_t values_;
  std::optional<shv_settings::values_t> kept_;
};

// What edit_settings came to.
struct edit_result_t {
  // S_OK, or the reason the settings could not be read (no dialog then).
  HRESULT read = S_OK;
  // S_OK once the dialog has closed; else why it could not be shown: the
  // HRESULT of the system's last error, E_FAIL when it names none (logged).
  HRESULT shown = S_OK;
  HRESULT first_failure() const { return FAILED(read) ? read : shown; }
};

// Reads the settings from source and shows them in dialog 300 of module, in
// the thread's language, modally over parent. When the settings cannot be
// read: a message naming the reason, owned by parent, and no dialog.
edit_result_t edit_settings(HMODULE module, HWND parent, settings_source_t& source);

// The dialog procedure; its creation parameter is the dialog's state
// (edit_settings makes it).
INT_PTR WINAPI settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Enables the server, port and cache-time fields when the check box is checked.
void update_enabled(HWND dialog);

}  // namespace shv_cfg
