// The state of each central server and its three events.
#include "shv/server_watch.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "shv/event_log.h"

namespace shv::server_watch {

namespace {

struct state_t {
  std::atomic<bool> down{false};
  std::atomic<uint64_t> since{0};
  std::atomic<uint64_t> missed{0};
  std::atomic<uint64_t> next_reminder{0};
};

struct servers_t {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<state_t>> states;
};
servers_t servers;

std::string key_of(const std::string& setting, uint32_t port) { return setting + '\n' + std::to_string(port); }

std::u16string shown(const std::string& setting, uint32_t port) {
  return events::text("\"" + setting + "\" (port " + std::to_string(port) + ")");
}

// The state of a server; with create, made when missing (null when the table
// is full of servers that are down).
std::shared_ptr<state_t> find(const std::string& key, bool create) {
  std::lock_guard<std::mutex> guard(servers.lock);
  const auto it = servers.states.find(key);
  if (it != servers.states.end()) return it->second;
  if (!create) return nullptr;
  if (servers.states.size() >= max_servers) {
    for (auto i = servers.states.begin(); i != servers.states.end();) {
      i = i->second->down.load() ? std::next(i) : servers.states.erase(i);
    }
    if (servers.states.size() >= max_servers) return nullptr;
  }
  auto state = std::make_shared<state_t>();
  servers.states.emplace(key, state);
  return state;
}

}  // namespace

void note_verdict(const std::string& setting, uint32_t port) noexcept {
  try {
    const std::shared_ptr<state_t> state = find(key_of(setting, port), false);
    if (!state || !state->down.load() || !state->down.exchange(false)) return;
    const uint64_t missed = state->missed.exchange(0);
    const uint64_t away_s = (events::now_ms() - state->since.load()) / 1000;
    events::report(events::server_recovered, events::type_t::information,
                   {shown(setting, port), events::number(away_s), events::number(missed)});
  } catch (...) {
  }
}

void note_no_verdict(const std::string& setting, uint32_t port, nap_servers::failure_t reason) noexcept {
  try {
    const std::shared_ptr<state_t> state = find(key_of(setting, port), true);
    if (!state) return;
    const uint64_t now = events::now_ms();
    bool was_down = false;
    if (state->down.compare_exchange_strong(was_down, true)) {
      state->since.store(now);
      state->next_reminder.store(now + reminder_interval_ms);
      state->missed.fetch_add(1);
      events::report(events::server_unreachable, events::type_t::warning,
                     {shown(setting, port), events::text(nap_servers::describe(reason))});
      return;
    }
    const uint64_t missed = state->missed.fetch_add(1) + 1;
    uint64_t due = state->next_reminder.load();
    if (now < due || !state->next_reminder.compare_exchange_strong(due, now + reminder_interval_ms)) return;
    const uint64_t minutes = (now - state->since.load()) / 60000;
    events::report(events::server_still_unreachable, events::type_t::warning,
                   {shown(setting, port), events::number(missed), events::number(minutes)});
  } catch (...) {
  }
}

}  // namespace shv::server_watch
