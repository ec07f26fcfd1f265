// Stand-in for the thread locale. The process default is taken once from the
// environment's locale name (language_TERRITORY[.codeset][@modifier]).
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/kernel/locale.h"
#include "platform/linux/kernel/seam_state.h"
#include "platform/win32.h"

namespace {

constexpr LCID english_us = 0x0409;

struct locale_name_t {
  const char* name;
  LCID lcid;
};

// Locale names with their Windows locale ids; a language alone maps to its
// entry marked as the language's default.
const locale_name_t locales[] = {
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409},
    {"en_IE", 0x1809}, {"en_ZA", 0x1C09}, {"en_IN", 0x4009},
    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07}, {"de_LU", 0x1007}, {"de_LI", 0x1407},
    {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr_LU", 0x140C},
    {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"es_AR", 0x2C0A}, {"es_CO", 0x240A}, {"es_CL", 0x340A},
    {"it_IT", 0x0410}, {"it_CH", 0x0810},
    {"pt_BR", 0x0416}, {"pt_PT", 0x0816},
    {"nl_NL", 0x0413}, {"nl_BE", 0x0813},
    {"ru_RU", 0x0419}, {"ru_UA", 0x0819},
    {"pl_PL", 0x0415}, {"lt_LT", 0x0427}, {"lv_LV", 0x0426}, {"et_EE", 0x0425},
    {"bg_BG", 0x0402}, {"el_GR", 0x0408}, {"el_CY", 0x0408}, {"hu_HU", 0x040E}, {"sk_SK", 0x041B},
    {"cs_CZ", 0x0405}, {"uk_UA", 0x0422}, {"be_BY", 0x0423}, {"sl_SI", 0x0424}, {"hr_HR", 0x041A},
    {"ro_RO", 0x0418}, {"fi_FI", 0x040B}, {"sv_SE", 0x041D}, {"sv_FI", 0x081D}, {"da_DK", 0x0406},
    {"nb_NO", 0x0414}, {"nn_NO", 0x0814}, {"tr_TR", 0x041F}, {"he_IL", 0x040D}, {"ar_SA", 0x0401},
    {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"zh_CN", 0x0804}, {"zh_TW", 0x0404}, {"zh_HK", 0x0C04},
    {"zh_SG", 0x1004}, {"th_TH", 0x041E}, {"vi_VN", 0x042A}, {"id_ID", 0x0421}, {"kk_KZ", 0x043F},
};

const char* language_default[][2] = {
    {"en", "en_US"}, {"de", "de_DE"}, {"fr", "fr_FR"}, {"es", "es_ES"}, {"it", "it_IT"}, {"pt", "pt_BR"},
    {"nl", "nl_NL"}, {"ru", "ru_RU"}, {"pl", "pl_PL"}, {"lt", "lt_LT"}, {"lv", "lv_LV"}, {"et", "et_EE"},
    {"bg", "bg_BG"}, {"el", "el_GR"}, {"hu", "hu_HU"}, {"sk", "sk_SK"}, {"cs", "cs_CZ"}, {"uk", "uk_UA"},
    {"be", "be_BY"}, {"sl", "sl_SI"}, {"hr", "hr_HR"}, {"ro", "ro_RO"}, {"fi", "fi_FI"}, {"sv", "sv_SE"},
    {"da", "da_DK"}, {"nb", "nb_NO"}, {"no", "nb_NO"}, {"nn", "nn_NO"}, {"tr", "tr_TR"}, {"he", "he_IL"},
    {"ar", "ar_SA"}, {"ja", "ja_JP"}, {"ko", "ko_KR"}, {"zh", "zh_CN"}, {"th", "th_TH"}, {"vi", "vi_VN"},
    {"id", "id_ID"}, {"kk", "kk_KZ"},
};

LCID lookup(const std::string& name) {
  for (const locale_name_t& l : locales) {
    if (name == l.name) return l.lcid;
  }
  return 0;
}

}  // namespace

namespace plat_linux {

// The locale id of a POSIX locale name; 0 when it names no known language.
LCID lcid_from_locale_name(const char* text) {
  if (text == nullptr) return 0;
  std::string name = text;
  const size_t cut = name.find_first_of(".@");
  if (cut != std::string::npos) name.erase(cut);
  const size_t underscore = name.find('_');
  const std::string language = name.substr(0, underscore);
  if (language.size() < 2 || language.size() > 3) return 0;
  if (LCID lcid = lookup(name)) return lcid;
  for (const auto& entry : language_default) {
    if (language == entry[0]) return lookup(entry[1]);
  }
  return 0;
}

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty decides.
LCID lcid_from_environment() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    const LCID lcid = lcid_from_locale_name(value);
    return lcid != 0 ? lcid : english_us;
  }
  return english_us;
}

}  // namespace plat_linux


LCID GetUserDefaultLCID() {
  static const LCID process_default = plat_linux::lcid_from_environment();
  return process_default;
}

LCID GetThreadLocale() {
  const LCID locale = *shv_seam_thread_locale();  // 0: not set, the process default applies
  return locale != 0 ? locale : GetUserDefaultLCID();
}

BOOL SetThreadLocale(LCID locale) {
  // A locale id needs a language; sort ids above 0xF do not exist.
  if (PRIMARYLANGID(LANGIDFROMLCID(locale)) == 0 || (locale >> 16) > 0xF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *shv_seam_thread_locale() = locale;
  return TRUE;
}

LCID GetSystemDefaultLCID() { return plat_linux::lcid_from_environment(); }
