// naphost config: the management console's side of the configurator. The
// object is created as the console creates it (registry -> module ->
// DllGetClassObject -> class factory) and its dialog is filled in and
// confirmed through the dialog manager's front end, as a user would.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "common/component_ids.h"
#include "common/settings.h"
#include "kern/error_text.h"
#include "kern/types.h"
#include "kern/unicode.h"
#ifndef _WIN32
#include "platform/linux/dialog/dialog_front_end.h"
#endif
#include "platform/nap_sdk.h"
#include "tools/naphost/commands.h"

namespace naphost {
namespace {

constexpr int id_enabled = 301;
constexpr int id_cache_time = 302;
constexpr int id_server = 303;
constexpr int id_port = 304;

const char usage[] =
    "usage: naphost config get [--config-id N] [--out FILE]\n"
    "       naphost config set [--config-id N] [--in FILE]\n"
    "       naphost config edit [--config-id N] [--server TEXT] [--port N] [--cache-time N] [--enable|--disable]\n"
    "                           [--stale-time N]\n"
    "       naphost config show [--config-id N]\n"
    "       naphost config new --config-id N\n"
    "       naphost config delete --config-id N\n"
    "       naphost config delete-all\n"
    "\n"
    "get         the configuration blob of the current settings: raw bytes to FILE,\n"
    "            else as hexadecimal text\n"
    "set         applies a configuration blob read from FILE (raw bytes), else from\n"
    "            standard input\n"
    "edit        fills the settings dialog's fields that are named and presses OK; a\n"
    "            rejected field is reported and nothing is written; settings the store\n"
    "            did not keep are named; --stale-time (StaleTime, in the registry\n"
    "            only) is written after the dialog's OK, or alone without the dialog\n"
    "show        the current settings\n"
    "new         a configuration for a network policy, a copy of the default one\n"
    "delete      removes a configuration\n"
    "delete-all  removes every configuration but the default one\n"
    "\n"
    "--config-id N: the configuration of a network policy (INapComponentConfig3:\n"
    "GetConfigFromID, SetConfigToID; edit shows the dialog over its blob with\n"
    "InvokeUIFromConfigBlob and stores what OK returns). Without it, or with 0,\n"
    "the default configuration, through INapComponentConfig as ever.\n";

int usage_error(const char* what) {
  std::fprintf(stderr, "naphost config: %s\n\n%s", what, usage);
  return 2;
}

// The configurator object, or null after a message.
base_n::com_ptr_t<INapComponentConfig> create_configurator() {
  base_n::com_ptr_t<INapComponentConfig> config;
  const HRESULT hr =
      CoCreateInstance(CLSID_SHVConfig, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentConfig, config.out_void());
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: cannot create the configurator (error 0x%08X); is healthcfg registered?\n",
                 static_cast<unsigned>(hr));
    config.reset();
  }
  return config;
}

// The configurator's interface for configuration config: the first
// generation's for the default one, the third's for the others; null after
// a message.
base_n::com_ptr_t<INapComponentConfig3> configurator_for(INapComponentConfig* config, uint32_t id) {
  base_n::com_ptr_t<INapComponentConfig3> third;
  if (id == 0) return third;
  const HRESULT hr = config->QueryInterface(IID_INapComponentConfig3, third.out_void());
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: the configurator keeps no configurations per network policy (error 0x%08X)\n",
                 static_cast<unsigned>(hr));
    third.reset();
  }
  return third;
}

// A failed call on a configuration, said in words where the SDK has some.
int report_failure(const char* call, HRESULT hr, uint32_t id) {
  if (hr == NAP_E_SHV_CONFIG_NOT_FOUND) {
    std::fprintf(stderr, "naphost config: configuration %u does not exist (%s: 0x%08X)\n", static_cast<unsigned>(id),
                 call, static_cast<unsigned>(hr));
  } else if (hr == NAP_E_SHV_CONFIG_EXISTED) {
    std::fprintf(stderr, "naphost config: configuration %u exists already (%s: 0x%08X)\n", static_cast<unsigned>(id),
                 call, static_cast<unsigned>(hr));
  } else {
    std::fprintf(stderr, "naphost config: %s failed with error 0x%08X\n", call, static_cast<unsigned>(hr));
  }
  return 1;
}

// A whole number from 0 to 4294967295, or none.
std::optional<uint32_t> whole_number(const char* text) {
  uint32_t n = 0;
  const char* end = text + std::strlen(text);
  const auto [at, error] = std::from_chars(text, end, n);
  if (error != std::errc() || at != end || text == end) return std::nullopt;
  return n;
}

// Takes "--config-id N" out of the arguments (whatever their order): N, 0
// when absent; none after a message.
std::optional<uint32_t> take_config_id(int& argc, char** argv) {
  uint32_t id = 0;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--config-id") != 0) {
      argv[kept++] = argv[i];
      continue;
    }
    if (i + 1 >= argc) {
      usage_error("--config-id needs a number");
      return std::nullopt;
    }
    const std::optional<uint32_t> given = whole_number(argv[++i]);
    if (!given) {
      usage_error("--config-id needs a whole number from 0 to 4294967295");
      return std::nullopt;
    }
    id = *given;
  }
  argc = kept;
  return id;
}

// The settings the dialog edits: all but the server time-out.
const std::vector<const char*> dialog_settings = {"server_name", "server_port", "cache_time", "validate"};

// Those of names (all when empty) whose stored value in configuration id is
// not the wanted one, as a list.
std::string not_written(const shv_settings::values_t& wanted, const std::vector<const char*>& names = {},
                        uint32_t id = 0) {
  std::string list;
  std::optional<shv_settings::values_t> stored;
  try {
    stored = id == 0 ? shv_settings::read_all() : shv_settings::read_stored(id);
  } catch (const std::exception&) {
    return "unknown (the configuration cannot be read)";
  }
  for (const char* name : shv_settings::differing(*stored, wanted)) {
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

int run_get(int argc, char** argv, uint32_t id) {
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
  if (id != 0) {
    auto third = configurator_for(config.get(), id);
    if (!third) return 1;
    const HRESULT hr = third->GetConfigFromID(id, &count, &blob.p);
    if (FAILED(hr)) return report_failure("GetConfigFromID", hr, id);
  } else if (const HRESULT hr = config->GetConfig(&count, &blob.p); FAILED(hr)) {
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

int run_set(int argc, char** argv, uint32_t id) {
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
  HRESULT hr = S_OK;
  if (id != 0) {
    auto third = configurator_for(config.get(), id);
    if (!third) return 1;
    hr = third->SetConfigToID(id, static_cast<UINT16>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data()));
    if (hr == NAP_E_SHV_CONFIG_NOT_FOUND) return report_failure("SetConfigToID", hr, id);
  } else {
    hr = config->SetConfig(static_cast<UINT16>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data()));
  }
  if (hr == E_INVALIDARG) {
    std::fprintf(stderr, "naphost config: SetConfig refused the blob (error 0x%08X)\n", static_cast<unsigned>(hr));
    return 1;
  }
  if (FAILED(hr)) {
    // The configurator may fail a blob for the store's sake before looking
    // at it: what it would have written is then unknown.
    std::string fate;
    try {
      fate = "not written: " + not_written(shv_settings::from_blob(lstr_t(bytes.data(), bytes.size())), {}, id);
    } catch (const std::exception& e) {
      fate = std::string("the blob is not a configuration blob either (") + e.what() + ")";
    }
    std::fprintf(stderr, "naphost config: SetConfig failed with error 0x%08X (%s); %s\n", static_cast<unsigned>(hr),
                 format_system_error(static_cast<uint32_t>(HRESULT_CODE(hr))).c_str(), fate.c_str());
    return 1;
  }
  return 0;
}

struct edit_request_t {
  std::optional<std::string> server, port, cache_time;
  std::optional<bool> enable;
  std::optional<uint32_t> stale_time;  // not in the dialog: the registry's
  bool dialog_fields() const { return server || port || cache_time || enable; }
};

// StaleTime as asked for, written as an administrator writes it into the
// configuration's key: 0 when written or not asked for, else 1 after a
// message.
int write_stale_time(const edit_request_t& request, uint32_t id) {
  if (!request.stale_time) return 0;
  const DWORD rc = shv_settings::write("stale_time", *request.stale_time, id);
  if (rc == ERROR_SUCCESS) return 0;
  std::fprintf(stderr, "naphost config: StaleTime not written: %s\n", format_system_error(rc).c_str());
  return 1;
}

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

int run_edit(int argc, char** argv, uint32_t id) {
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
    } else if (option == "--stale-time" && has_value) {
      if (!(request.stale_time = whole_number(argv[++i]))) {
        return usage_error("edit: --stale-time needs a whole number from 0 to 4294967295");
      }
    } else if (option == "--enable" || option == "--disable") {
      if (request.enable && *request.enable != (option == "--enable")) {
        return usage_error("edit: --enable and --disable exclude each other");
      }
      request.enable = option == "--enable";
    } else {
      return usage_error("edit: unknown option or missing value");
    }
  }
  if (request.stale_time && !request.dialog_fields()) return write_stale_time(request, id);
#ifdef _WIN32
  // The system's dialog: the administrator fills it in.
  if (request.dialog_fields()) {
    return usage_error("edit: on Windows the fields are filled in the dialog itself");
  }
#endif
  auto config = create_configurator();
  if (!config) return 1;
  // A network policy's configuration is edited as the console edits it:
  // the dialog over its blob, and what OK returns stored back.
  base_n::com_ptr_t<INapComponentConfig3> third;
  task_memory_t given, edited;
  UINT16 given_count = 0, edited_count = 0;
  BOOL changed = FALSE;
  if (id != 0) {
    if (!(third = configurator_for(config.get(), id))) return 1;
    if (const HRESULT hr = third->GetConfigFromID(id, &given_count, &given.p); FAILED(hr)) {
      return report_failure("GetConfigFromID", hr, id);
    }
  }
  auto show = [&](HWND parent) {
    return id == 0 ? config->InvokeUI(parent)
                   : third->InvokeUIFromConfigBlob(parent, given_count, given.p, &edited_count, &edited.p, &changed);
  };
  auto store = [&]() { return changed ? third->SetConfigToID(id, edited_count, edited.p) : S_OK; };
#ifdef _WIN32
  const HRESULT hr = show(GetConsoleWindow());
  if (FAILED(hr)) {
    std::fprintf(stderr, "naphost config: the settings dialog did not open (error 0x%08X)\n", static_cast<unsigned>(hr));
    return 1;
  }
  if (const HRESULT stored = store(); FAILED(stored)) return report_failure("SetConfigToID", stored, id);
  return write_stale_time(request, id);
#else
  edit_front_end_t front_end(request);
  plat::dialog_front_end_t* previous = plat::set_dialog_front_end(&front_end);
  const HRESULT hr = show(nullptr);
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
  if (front_end.accepted) {
    const HRESULT stored = store();
    if (SUCCEEDED(stored)) return write_stale_time(request, id);
    report_failure("SetConfigToID", stored, id);
    std::fprintf(stderr, "naphost config: not written: %s\n", not_written(front_end.sent, dialog_settings, id).c_str());
    return 1;
  }
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

int run_show(int argc, char**, uint32_t id) {
  if (argc != 1) return usage_error("show: no options expected");
  // A network policy's configuration as the console has it: its blob.
  std::optional<shv_settings::values_t> blob_values;
  std::optional<shv_settings::values_t> stored;  // what the blob does not carry
  if (id != 0) {
    auto config = create_configurator();
    if (!config) return 1;
    auto third = configurator_for(config.get(), id);
    if (!third) return 1;
    UINT16 count = 0;
    task_memory_t blob;
    if (const HRESULT hr = third->GetConfigFromID(id, &count, &blob.p); FAILED(hr)) {
      return report_failure("GetConfigFromID", hr, id);
    }
    blob_values = shv_settings::from_blob(lstr_t(reinterpret_cast<const char*>(blob.p), count));
    try {
      stored = shv_settings::read_stored(id);
    } catch (const std::exception&) {
    }
  }
  std::printf("%-16s %-18s %s\n", "setting", "registry value", "value");
  for (size_t i = 0; i < std::size(shv_settings::settings_table); ++i) {
    const shv_settings::setting_t& s = shv_settings::settings_table[i];
    std::string value;
    if (!blob_values) {
      value = s.kind == shv_settings::kind_string ? "\"" + to_narrow(shv_settings::read_string(s.name)) + "\""
                                                  : std::to_string(shv_settings::read_number(s.name));
    } else if (i >= shv_settings::blob_settings) {
      // The registry's only: the configuration's key has it.
      value = stored ? std::to_string(stored->stale_time) : "unknown (the configuration cannot be read)";
    } else {
      const shv_settings::values_t& v = *blob_values;
      const uint32_t numbers[] = {0, v.server_port, v.server_timeout, v.cache_time, v.validate};
      value = s.kind == shv_settings::kind_string ? "\"" + to_narrow(v.server_name) + "\"" : std::to_string(numbers[i]);
    }
    std::printf("%-16s %-18s %s\n", s.name, to_narrow(s.value_name).c_str(), value.c_str());
  }
  return 0;
}

// new, delete, delete-all: one call each on the configurator.
int run_manage(const std::string& sub, int argc, uint32_t id) {
  if (argc != 1) return usage_error((sub + ": no options expected but --config-id").c_str());
  if (sub != "delete-all" && id == 0) {
    return usage_error((sub + ": --config-id N of a network policy's configuration (not 0) is needed").c_str());
  }
  auto config = create_configurator();
  if (!config) return 1;
  base_n::com_ptr_t<INapComponentConfig3> third;
  if (FAILED(config->QueryInterface(IID_INapComponentConfig3, third.out_void()))) {
    return report_failure("QueryInterface(INapComponentConfig3)", E_NOINTERFACE, id);
  }
  const char* call = sub == "new" ? "NewConfig" : sub == "delete" ? "DeleteConfig" : "DeleteAllConfig";
  const HRESULT hr = sub == "new" ? third->NewConfig(id) : sub == "delete" ? third->DeleteConfig(id) : third->DeleteAllConfig();
  return FAILED(hr) ? report_failure(call, hr, id) : 0;
}

int run(int argc, char** argv) {
  if (argc < 2) return usage_error("a subcommand is needed");
  const std::string sub = argv[1];
  if (sub == "--help" || sub == "-h") {
    std::fputs(usage, stdout);
    return 0;
  }
  int rest = argc - 1;
  const std::optional<uint32_t> id = take_config_id(rest, argv + 1);
  if (!id) return 2;
  if (sub == "get") return run_get(rest, argv + 1, *id);
  if (sub == "set") return run_set(rest, argv + 1, *id);
  if (sub == "edit") return run_edit(rest, argv + 1, *id);
  if (sub == "show") return run_show(rest, argv + 1, *id);
  if (sub == "new" || sub == "delete" || sub == "delete-all") return run_manage(sub, rest, *id);
  return usage_error("unknown subcommand");
}

// The management console's thread is a single-threaded apartment; the
// configurator's class (threading model Neutral) is handed to it without a
// proxy, which the NAP interfaces would need from any other apartment.
const command_t config("config", "the configurator: get, set, edit, show; configurations per network policy",
                       &run, COINIT_APARTMENTTHREADED);

}  // namespace
}  // namespace naphost
