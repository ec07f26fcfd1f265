// naphost info: the validator's component information as the NAP server shows
// it, in the language of a thread locale.
#include <cstdio>
#include <string>

#include "base/com_ptr.h"
#include "common/nap_common.h"
#include "kern/unicode.h"
#include "tools/naphost/commands.h"
#include "tools/naphost/host_util.h"

namespace {

const char usage[] = R"(usage: naphost info [--locale LCID]

Shows the registered validator's name, description, vendor, version and icon
as the NAP server would, in the language of the thread locale LCID (decimal or
0x hex, e.g. 0x0407 for German; default: the thread's locale).
)";

// A counted string the validator handed out, freed as the NAP server would.
struct counted_owner_t {
  CountedString* s = nullptr;
  ~counted_owner_t() {
    if (s != nullptr) {
      CoTaskMemFree(s->string);
      CoTaskMemFree(s);
    }
  }
  std::string text() const { return s && s->string ? to_narrow(std::u16string(plat::u16(s->string), s->length)) : ""; }
};

int run(int argc, char** argv) {
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--help") {
        std::fputs(usage, stdout);
        return 0;
      } else if (arg == "--locale" && i + 1 < argc) {
        const uint64_t lcid = naphost::parse_number(argv[++i], 0xFFFFFFFF, "--locale");
        if (!SetThreadLocale(static_cast<LCID>(lcid))) throw naphost::usage_error("the system refuses locale " + std::string(argv[i]));
      } else {
        throw naphost::usage_error("unknown option " + arg);
      }
    }
    base_n::com_ptr_t<INapComponentInfo> info;
    const HRESULT hr = CoCreateInstance(CLSID_SHVValidator, nullptr, CLSCTX_INPROC_SERVER, IID_INapComponentInfo,
                                        info.out_void());
    if (FAILED(hr)) {
      std::fprintf(stderr, "naphost info: cannot create the validator: %s\n", naphost::hresult_text(hr).c_str());
      return 1;
    }
    std::printf("thread locale  0x%04X\n", static_cast<unsigned>(GetThreadLocale()));
    struct field_t {
      const char* label;
      HRESULT (STDMETHODCALLTYPE INapComponentInfo::*get)(MessageId*);
    } fields[] = {{"friendly name", &INapComponentInfo::GetFriendlyName},
                  {"description", &INapComponentInfo::GetDescription},
                  {"vendor", &INapComponentInfo::GetVendorName},
                  {"version", &INapComponentInfo::GetVersion}};
    for (const field_t& f : fields) {
      MessageId id = 0;
      (info.get()->*f.get)(&id);
      counted_owner_t text;
      const HRESULT text_hr = info->GetLocalizedString(id, &text.s);
      if (SUCCEEDED(text_hr)) {
        std::printf("%-14s %s  (message %u)\n", f.label, text.text().c_str(), static_cast<unsigned>(id));
      } else {
        std::printf("%-14s (none in this language: %s)  (message %u)\n", f.label,
                    naphost::hresult_text(text_hr).c_str(), static_cast<unsigned>(id));
      }
    }
    counted_owner_t path;
    UINT32 icon = 0;
    const HRESULT icon_hr = info->GetIcon(&path.s, &icon);
    if (SUCCEEDED(icon_hr)) {
      std::printf("%-14s %s, resource %u\n", "icon", path.text().c_str(), static_cast<unsigned>(icon));
    } else {
      std::printf("%-14s %s\n", "icon", naphost::hresult_text(icon_hr).c_str());
    }
    return 0;
  } catch (const naphost::usage_error& e) {
    std::fprintf(stderr, "naphost info: %s (see --help)\n", e.what());
    return 2;
  }
}

const naphost::command_t command("info", "the validator's component information in a language", &run);

}  // namespace
