// Test helper: a DNS server on one loopback address (UDP port 53) answering
// from a script: addresses (A/AAAA) with their time-to-live, a host name
// (PTR), NXDOMAIN, SERVFAIL, or no answer at all. Unknown names are NXDOMAIN.
// Switched silent, it answers nothing at all. It counts what it was asked.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <utility>  // Boost 1.74 Asio uses std::exchange without including it
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace test_support {

class mock_dns_t {
 public:
  enum class kind_t { found, nxdomain, servfail, silent };
  struct answer_t {
    kind_t kind = kind_t::found;
    std::vector<std::string> ipv4;  // dotted
    std::vector<std::string> ipv6;  // numeric
    std::string ptr;                // host name for reverse queries
    uint32_t ttl = 60;              // seconds, of every record
  };

  // Throws std::runtime_error when the address cannot be bound.
  explicit mock_dns_t(const std::string& address);
  ~mock_dns_t();
  mock_dns_t(const mock_dns_t&) = delete;
  mock_dns_t& operator=(const mock_dns_t&) = delete;

  void script(const std::string& name, answer_t answer);
  // A name server that has gone quiet: every query goes unanswered.
  void set_silent(bool silent);
  // Queries received, in total or for one name (any type).
  size_t queries() const;
  size_t queries_for(const std::string& name) const;

 private:
  void receive_next();
  std::string respond(const std::string& query);

  boost::asio::io_context service_;
  boost::asio::ip::udp::socket socket_{service_};
  boost::asio::ip::udp::endpoint from_;
  std::array<char, 1500> buffer_{};
  mutable std::mutex mutex_;
  std::map<std::string, answer_t> script_;
  std::map<std::string, size_t> asked_;
  size_t total_ = 0;
  bool silent_ = false;
  std::thread thread_;
};

}  // namespace test_support
