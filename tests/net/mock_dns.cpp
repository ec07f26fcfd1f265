// The mock DNS server: one UDP socket served by one thread, replies built by
// hand.
#include "tests/net/mock_dns.h"

#include <cctype>
#include <cstring>
#include <stdexcept>

#include <boost/asio/ip/address.hpp>

namespace test_support {

namespace {

constexpr uint16_t type_a = 1;
constexpr uint16_t type_ptr = 12;
constexpr uint16_t type_aaaa = 28;

uint16_t get16(const std::string& data, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(data[at]) << 8) | static_cast<uint8_t>(data[at + 1]));
}

void put16(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xff);
}

void put32(std::string& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value >> 16));
  put16(out, static_cast<uint16_t>(value & 0xffff));
}

std::string encode_name(const std::string& name) {
  std::string out;
  size_t start = 0;
  while (start < name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    out += static_cast<char>(dot - start);
    out += name.substr(start, dot - start);
    start = dot + 1;
  }
  out += '\0';
  return out;
}

}  // namespace

mock_dns_t::mock_dns_t(const std::string& address) {
  boost::system::error_code error;
  const boost::asio::ip::address_v4 ip = boost::asio::ip::make_address_v4(address, error);
  if (error || !ip.is_loopback())
    throw std::runtime_error("mock DNS: cannot bind " + address + ":53 (loopback only)");
  socket_.open(boost::asio::ip::udp::v4(), error);
  if (!error) socket_.bind(boost::asio::ip::udp::endpoint(ip, 53), error);
  if (error) throw std::runtime_error("mock DNS: cannot bind " + address + ":53: " + error.message());
  receive_next();
  thread_ = std::thread([this] { service_.run(); });
}

mock_dns_t::~mock_dns_t() {
  service_.stop();
  thread_.join();
}

void mock_dns_t::script(const std::string& name, answer_t answer) {
  std::lock_guard<std::mutex> guard(mutex_);
  script_[name] = std::move(answer);
}

void mock_dns_t::set_silent(bool silent) {
  std::lock_guard<std::mutex> guard(mutex_);
  silent_ = silent;
}

size_t mock_dns_t::queries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return total_;
}

size_t mock_dns_t::queries_for(const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = asked_.find(name);
  return it == asked_.end() ? 0 : it->second;
}

void mock_dns_t::receive_next() {
  socket_.async_receive_from(
      boost::asio::buffer(buffer_), from_, [this](const boost::system::error_code& error, size_t n) {
        if (error == boost::asio::error::operation_aborted) return;
        // Other errors are a client gone away (on Windows a UDP socket reports
        // the port unreachable of an earlier reply): serve on.
        if (!error && n > 0) {
          const std::string reply = respond(std::string(buffer_.data(), n));
          boost::system::error_code ignored;
          if (!reply.empty()) socket_.send_to(boost::asio::buffer(reply), from_, 0, ignored);
        }
        receive_next();
      });
}

std::string mock_dns_t::respond(const std::string& query) {
  if (query.size() < 12 || get16(query, 4) != 1) return {};
  // The question: labels up to the root, then type and class.
  std::string name;
  size_t at = 12;
  while (at < query.size() && query[at] != 0) {
    const size_t length = static_cast<uint8_t>(query[at]);
    if (length > 63 || at + 1 + length > query.size()) return {};
    if (!name.empty()) name += '.';
    for (size_t i = 0; i < length; ++i) name += static_cast<char>(std::tolower(static_cast<unsigned char>(query[at + 1 + i])));
    at += 1 + length;
  }
  if (at + 5 > query.size()) return {};
  const uint16_t type = get16(query, at + 1);
  const size_t question_end = at + 5;

  answer_t answer;
  answer.kind = kind_t::nxdomain;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ++total_;
    ++asked_[name];
    auto it = script_.find(name);
    if (it != script_.end()) answer = it->second;
    if (silent_) answer.kind = kind_t::silent;
  }
  if (answer.kind == kind_t::silent) return {};

  std::vector<std::string> records;  // rdata per answer, of the asked type
  if (answer.kind == kind_t::found) {
    if (type == type_a) {
      for (const std::string& text : answer.ipv4) {
        boost::system::error_code error;
        const auto bytes = boost::asio::ip::make_address_v4(text, error).to_bytes();
        if (!error) records.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      }
    } else if (type == type_aaaa) {
      for (const std::string& text : answer.ipv6) {
        boost::system::error_code error;
        const auto bytes = boost::asio::ip::make_address_v6(text, error).to_bytes();
        if (!error) records.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      }
    } else if (type == type_ptr && !answer.ptr.empty()) {
      records.push_back(encode_name(answer.ptr));
    }
  }
  const uint16_t rcode = answer.kind == kind_t::nxdomain ? 3 : answer.kind == kind_t::servfail ? 2 : 0;

  std::string reply = query.substr(0, 2);                                  // id
  put16(reply, static_cast<uint16_t>(0x8000 | (get16(query, 2) & 0x0100) | 0x0080 | rcode));
  put16(reply, 1);                                                         // questions
  put16(reply, static_cast<uint16_t>(records.size()));                    // answers
  put16(reply, 0);
  put16(reply, 0);
  reply += query.substr(12, question_end - 12);
  for (const std::string& rdata : records) {
    put16(reply, 0xc00c);  // the question's name
    put16(reply, type);
    put16(reply, 1);
    put32(reply, answer.ttl);
    put16(reply, static_cast<uint16_t>(rdata.size()));
    reply += rdata;
  }
  return reply;
}

}  // namespace test_support
