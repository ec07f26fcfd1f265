// Read problems of the settings store, rate limited per value, as events.
#include "shv/settings_events.h"

#include <iterator>

#include "common/settings.h"
#include "shv/event_log.h"

namespace shv::settings_events {

namespace {

// One limit per problem for each value of the table, and one for any other
// value name.
constexpr size_t rows = std::size(shv_settings::settings_table) + 1;
events::rate_limit_t limits[2][rows];

size_t row_of(const char16_t* value_name) {
  for (size_t i = 0; i + 1 < rows; ++i) {
    if (std::u16string_view(shv_settings::settings_table[i].value_name) == value_name) return i;
  }
  return rows - 1;
}

void observe(const char16_t* value_name, shv_settings::read_problem_t problem, const std::string& reason) {
  const bool wrong_type = problem == shv_settings::read_problem_t::wrong_type;
  if (!limits[wrong_type ? 1 : 0][row_of(value_name)].admit(interval_ms)) return;
  std::u16string key = u"HKLM\\";
  key += shv_settings::settings_key;
  events::report(wrong_type ? events::setting_wrong_type : events::settings_unreadable, events::type_t::error,
                 {std::u16string(value_name), key, events::text(reason)});
}

}  // namespace

void install() noexcept { shv_settings::set_read_observer(&observe); }

void uninstall() noexcept { shv_settings::set_read_observer(nullptr); }

}  // namespace shv::settings_events
