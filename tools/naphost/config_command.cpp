// naphost config: the management console's side of the configurator. The
// object is created as the console creates it (registry -> module ->
// DllGetClassObject -> class factory) and its dialog is filled in and
// confirmed through the dialog manager's front end, as a user would.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "common/settings.h"
#include "kern/error_text.h"
#include "kern/types.h"
#include "kern/unicode.h"
#ifndef _WIN32
#include "platform/linux/dialog_front_end.h"
#endif
#include "platform/nap_sdk.h"
#include "tools/naphost/commands.h"

namespace naphost {
namespace {

// {0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}
constexpr CLSID clsid_shv_config = {0x0C5C9CEC, 0x1FF7, 0x42E3, {0xAC, 0x8F, 0x4D, 0x9B, 0xAE, 0x29, 0x6C, 0x5D}};

constexpr int id_enabled = 301;
constexpr int id_cache_time = 302;
constexpr int id_server = 303;
constexpr int id_port = 304;

const char usage[] =
    "usage: naphost config get [--out FILE]\n"
    "       naphost config set [--in FILE]\n"
    "       naphost config edit [--server TEXT] [--port N] [--cache-time N] [--enable|--disable]\n"
    "       naphost config show\n"
    "\n"
    "get   the configuration blob of the current settings: raw bytes to FILE,\n"
    "      else as hexadecimal text\n"
    "set   applies a configuration blob read from FILE (raw bytes), else from\n"
    "      standard input\n"
    "edit  fills the settings dialog's fields that are named and presses OK; a\n"
    "      rejected field is reported and nothing is written; settings the store\n"
    "      did not keep are named\n"
    "show  the current settings\n";

int usage_error(const char* what) {
  std::fprintf(stderr, "naphost config: %s\n\n%s", what, usage);
  return 2;
}

// The configurator object, or null after a message.
base_n::com_ptr_t<INapComponentConfig> create_configurator() {
  base_n::com_ptr_t<INapComponentConfig> config;
  const HRESULT hr =
      CoCreateInstance(clsid_shv_config, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentConfig, config.out_void());
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: cannot create the configurator (error 0x%08X); is healthcfg registered?\n",
                 static_cast<unsigned>(hr));
    config.reset();
  }
  return config;
}

// The settings the dialog edits: all but the server time-out.
const std::vector<const char*> dialog_settings = {"server_name", "server_port", "cache_time", "validate"};

// Those of names (all when empty) whose stored value is not the wanted one,
// as a list.
std::string not_written(const shv_settings::values_t& wanted, const std::vector<const char*>& names = {}) {
  std::string list;
  for (const char* name : shv_settings::differing(shv_settings::read_all(), wanted)) {
    const bool asked = names.empty() || std::find_if(names.begin(), names.end(), [&](const char* n) {
                                          return std::strcmp(n, name) == 0;
                                        }) != names.end();
    if (asked) list += std::string(list.empty() ? "" : ", ") + name;
  }
  return list.empty() ? "none" : list;
}

// Task memory handed out by the configurator.
struct task_memory_t {
  BYTE* p = nullptr;
  ~task_memory_t() { CoTaskMemFree(p); }
};

int run_get(int argc, char** argv) {
  const char* out_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out_path = argv[++i];
    } else {
      return usage_error("get: unknown option");
    }
  }
  auto config = create_configurator();
  if (!config) return 1;
  UINT16 count = 0;
  task_memory_t blob;
  const HRESULT hr = config->GetConfig(&count, &blob.p);
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: GetConfig failed with error 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  if (out_path != nullptr) {
    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(blob.p), count);
    if (!out.flush()) {
      std::fprintf(stderr, "naphost config: cannot write %s\n", out_path);
      return 1;
    }
    return 0;
  }
  for (UINT16 i = 0; i < count; ++i) std::printf("%02x%s", blob.p[i], (i % 16 == 15 || i + 1 == count) ? "\n" : " ");
  return 0;
}

int run_set(int argc, char** argv) {
  const char* in_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--in") == 0 && i + 1 < argc) {
      in_path = argv[++i];
    } else {
      return usage_error("set: unknown option");
    }
  }
  std::string bytes;
  if (in_path != nullptr) {
    std::ifstream in(in_path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "naphost config: cannot read %s\n", in_path);
      return 1;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  if (bytes.size() > 0xFFFF) {
    std::fprintf(stderr, "naphost config: a configuration blob holds at most 65535 bytes, not %zu\n", bytes.size());
    return 1;
  }
  auto config = create_configurator();
  if (!config) return 1;
  const HRESULT hr = config->SetConfig(static_cast<UINT16>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data()));
  if (hr == E_INVALIDARG) {
    std::fprintf(stderr, "naphost config: SetConfig refused the blob (error 0x%08X)\n", static_cast<unsigned>(hr));
    return 1;
  }
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: SetConfig failed with error 0x%08X (%s); not written: %s\n",
                 static_cast<unsigned>(hr), format_system_error(static_cast<uint32_t>(HRESULT_CODE(hr))).c_str(),
                 not_written(shv_settings::from_blob(lstr_t(bytes.data(), bytes.size()))).c_str());
    return 1;
  }
  return 0;
}

struct edit_request_t {
  std::optional<std::string> server, port, cache_time;
  std::optional<bool> enable;
};

#ifndef _WIN32
// Plays the administrator: fills the named fields, sets the check box by
// clicking it, presses OK, and notes what the dialog answered.
class edit_front_end_t : public plat::dialog_front_end_t {
 public:
  explicit edit_front_end_t(const edit_request_t& request) : request_(request) {}

  void run(HWND dialog) override {
    opened = true;
    if (request_.enable && (IsDlgButtonChecked(dialog, id_enabled) == BST_CHECKED) != *request_.enable) {
      plat::click(dialog, id_enabled);
    }
    set(dialog, id_server, request_.server);
    set(dialog, id_port, request_.port);
    set(dialog, id_cache_time, request_.cache_time);
    // What a valid OK keeps; the dialog has checked the numbers by then.
    sent.server_name = plat::control_text(dialog, id_server).substr(0, 1022);
    sent.server_port = number(plat::control_text(dialog, id_port));
    sent.cache_time = number(plat::control_text(dialog, id_cache_time));
    sent.validate = IsDlgButtonChecked(dialog, id_enabled) == BST_CHECKED ? 1 : 0;
    plat::click(dialog, IDOK);
    accepted = !plat::dialog_is_open(dialog);
    if (!accepted) {
      rejected_field = GetDlgCtrlID(GetFocus());
      plat::click(dialog, IDCANCEL);
    }
  }
  void message_box(HWND, const std::u16string& text, const std::u16string&, UINT type) override {
    message = to_narrow(text);
    // An error, not a warning: the values were fine, keeping them failed.
    not_saved = (type & 0xF0) == MB_ICONERROR;
  }

  bool opened = false;
  bool accepted = false;   // OK closed the dialog
  bool not_saved = false;  // the last message says the values were not kept
  std::string message;     // the last message box's text
  int rejected_field = 0;
  shv_settings::values_t sent;

 private:
  static void set(HWND dialog, int id, const std::optional<std::string>& text) {
    if (text) SetDlgItemTextW(dialog, id, plat::wstr(to_wide(*text).c_str()));
  }
  static uint32_t number(const std::u16string& text) {
    uint64_t n = 0;
    for (char16_t c : text) n = c >= u'0' && c <= u'9' && n <= UINT32_MAX ? n * 10 + (c - u'0') : n;
    return static_cast<uint32_t>(n);
  }
  const edit_request_t& request_;
};
#endif

int run_edit(int argc, char** argv) {
  edit_request_t request;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool has_value = i + 1 < argc;
    if (option == "--server" && has_value) {
      request.server = argv[++i];
    } else if (option == "--port" && has_value) {
      request.port = argv[++i];
    } else if (option == "--cache-time" && has_value) {
      request.cache_time = argv[++i];
    } else if (option == "--enable" || option == "--disable") {
      if (request.enable && *request.enable != (option == "--enable")) {
        return usage_error("edit: --enable and --disable exclude each other");
      }
      request.enable = option == "--enable";
    } else {
      return usage_error("edit: unknown option or missing value");
    }
  }
  auto config = create_configurator();
  if (!config) return 1;
#ifdef _WIN32
  // The system's dialog: the administrator fills it in.
  if (request.server || request.port || request.cache_time || request.enable) {
    return usage_error("edit: on Windows the fields are filled in the dialog itself");
  }
  const HRESULT hr = config->InvokeUI(GetConsoleWindow());
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: the settings dialog did not open (error 0x%08X)\n", static_cast<unsigned>(hr));
    return 1;
  }
  return 0;
#else
  edit_front_end_t front_end(request);
  plat::dialog_front_end_t* previous = plat::set_dialog_front_end(&front_end);
  const HRESULT hr = config->InvokeUI(nullptr);
  plat::set_dialog_front_end(previous);
  if (!front_end.opened) {
    if (!front_end.message.empty()) {
      std::fprintf(stderr, "naphost config: %s; the settings dialog did not open (error 0x%08X)\n",
                   front_end.message.c_str(), static_cast<unsigned>(hr));
    } else {
      std::fprintf(stderr,
                   "naphost config: the settings dialog did not open (no dialog in the thread's language 0x%04X)\n",
                   static_cast<unsigned>(LANGIDFROMLCID(GetThreadLocale())));
    }
    return 1;
  }
  if (front_end.accepted) return 0;
  if (front_end.message.empty()) {
    std::fputs("naphost config: the settings dialog did not take OK; nothing was written\n", stderr);
    return 1;
  }
  if (front_end.not_saved) {
    std::fprintf(stderr, "naphost config: %s; not written: %s\n", front_end.message.c_str(),
                 not_written(front_end.sent, dialog_settings).c_str());
    return 1;
  }
  const char* field = front_end.rejected_field == id_server      ? "server address (--server)"
                      : front_end.rejected_field == id_port       ? "port (--port)"
                      : front_end.rejected_field == id_cache_time ? "cache time (--cache-time)"
                                                                  : "unknown field";
  std::fprintf(stderr, "naphost config: %s: %s; nothing was written\n", front_end.message.c_str(), field);
  return 1;
#endif
}

int run_show(int argc, char**) {
  if (argc != 1) return usage_error("show: no options expected");
  std::printf("%-16s %-18s %s\n", "setting", "registry value", "value");
  for (const shv_settings::setting_t& s : shv_settings::settings_table) {
    const std::string value = s.kind == shv_settings::kind_string
                                  ? "\"" + to_narrow(shv_settings::read_string(s.name)) + "\""
                                  : std::to_string(shv_settings::read_number(s.name));
    std::printf("%-16s %-18s %s\n", s.name, to_narrow(s.value_name).c_str(), value.c_str());
  }
  return 0;
}

int run(int argc, char** argv) {
  if (argc < 2) return usage_error("a subcommand is needed");
  const std::string sub = argv[1];
  if (sub == "--help" || sub == "-h") {
    std::fputs(usage, stdout);
    return 0;
  }
  if (sub == "get") return run_get(argc - 1, argv + 1);
  if (sub == "set") return run_set(argc - 1, argv + 1);
  if (sub == "edit") return run_edit(argc - 1, argv + 1);
  if (sub == "show") return run_show(argc - 1, argv + 1);
  return usage_error("unknown subcommand");
}

const command_t config("config", "the configurator: get, set, edit, show", &run);

}  // namespace
}  // namespace naphost
