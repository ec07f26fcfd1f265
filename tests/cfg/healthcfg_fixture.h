// healthcfg as the management console meets it: registered with its own
// DllRegisterServer in a private store, created through CoCreateInstance, its
// dialog driven by a scripted front end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "common/component_ids.h"
#include "platform/linux/dialog/dialog_front_end.h"
#include "platform/nap_sdk.h"
#include "registry_fixture.h"
#include "registry_values.h"

namespace test_support {

using export_fn = HRESULT (*)();

inline export_fn module_export(HMODULE module, const char* name) {
  return reinterpret_cast<export_fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

inline const std::u16string settings_key = u"SOFTWARE\\VexorLabs\\REDIVEVE\\Settings";

// A front end whose run is the test's script; message boxes are recorded,
// and on_box (when set) acts while one is shown.
class scripted_front_end_t : public plat::dialog_front_end_t {
 public:
  explicit scripted_front_end_t(std::function<void(HWND)> script) : script_(std::move(script)) {
    previous_ = plat::set_dialog_front_end(this);
  }
  ~scripted_front_end_t() override { plat::set_dialog_front_end(previous_); }
  scripted_front_end_t(const scripted_front_end_t&) = delete;
  scripted_front_end_t& operator=(const scripted_front_end_t&) = delete;

  void run(HWND dialog) override {
    ++runs;
    script_(dialog);
  }
  void message_box(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) override {
    boxes.push_back({owner, text, caption, type});
    if (on_box) on_box(owner);
  }

  struct box_t {
    HWND owner;
    std::u16string text, caption;
    UINT type;
  };
  int runs = 0;
  std::vector<box_t> boxes;
  std::function<void(HWND)> on_box;

 private:
  std::function<void(HWND)> script_;
  plat::dialog_front_end_t* previous_ = nullptr;
};

// The debugger output (where the module's log lines go) sent to a file of
// the test's store directory while the object lives.
class debug_output_t {
 public:
  explicit debug_output_t(const std::string& dir)
      : file_(dir + "/debug.log"), env_("SHV_DEBUG_OUTPUT", file_) {}
  std::string text() const { return test_support::read_file(file_); }
  bool has(const std::string& part) const { return text().find(part) != std::string::npos; }

 private:
  std::string file_;
  test_support::scoped_env_t env_;
};

inline std::u16string text_of(HWND dialog, int id) { return plat::control_text(dialog, id); }
inline void set_text(HWND dialog, int id, const std::u16string& text) { SetDlgItemTextW(dialog, id, text.c_str()); }
inline int focus_id(HWND) { return GetDlgCtrlID(GetFocus()); }

class healthcfg_test : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA("healthcfg.dll");
    ASSERT_NE(module_, nullptr);
    auto reg = module_export(module_, "DllRegisterServer");
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_SHVConfig, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentConfig,
                               config_.out_void()),
              S_OK);
    old_locale_ = GetThreadLocale();
    SetThreadLocale(0x0409);
  }
  void TearDown() override {
    SetThreadLocale(old_locale_);
    config_.reset();
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The blob of the current settings through GetConfig.
  std::string blob() {
    UINT16 count = 0;
    BYTE* data = nullptr;
    EXPECT_EQ(config_->GetConfig(&count, &data), S_OK);
    std::string out(reinterpret_cast<const char*>(data), count);
    CoTaskMemFree(data);
    return out;
  }

  // Runs InvokeUI with script as the user; S_OK expected.
  scripted_front_end_t::box_t* invoke(scripted_front_end_t& front_end) {
    EXPECT_EQ(config_->InvokeUI(nullptr), S_OK);
    return front_end.boxes.empty() ? nullptr : &front_end.boxes.front();
  }

  test_support::temp_store_t store_;
  HMODULE module_ = nullptr;
  base_n::com_ptr_t<INapComponentConfig> config_;
  LCID old_locale_ = 0;
};

}  // namespace test_support
