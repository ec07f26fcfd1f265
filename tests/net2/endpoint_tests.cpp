// Address specifications, endpoints from numeric hosts, and endpoint text.
// Only numeric hosts here: names are resolved in the resolver's tests against
// the mock DNS server.
#include <string>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "kern/exceptions.h"
#include "net/dns_resolver.h"
#include "net2/format_endpoint.h"
#include "net2/ip_utils.h"
#include "net2/net2_utils.h"
#include "net2/stream/socket.h"
#include "tests/support/capture_logger.h"

namespace {

using test_support::capture_logger_t;

using net2::stream::utils::parse_tcp_addr;

struct split_t {
  std::string host;
  std::string port;
};

split_t split(const std::string& spec) {
  split_t out{"stale", "stale"};
  parse_tcp_addr(spec, out.host, out.port);
  return out;
}

TEST(parse_tcp_addr, splits_prefix_host_and_port) {
  EXPECT_EQ(split("tcp/10.0.0.1:2193").host, "10.0.0.1");
  EXPECT_EQ(split("tcp/10.0.0.1:2193").port, "2193");
  EXPECT_EQ(split("10.0.0.1").host, "10.0.0.1");
  EXPECT_EQ(split("10.0.0.1").port, "");
  EXPECT_EQ(split("server.example:").host, "server.example");
  EXPECT_EQ(split("server.example:").port, "");
  EXPECT_EQ(split("[2001:db8::1]:2193").host, "[2001:db8::1]");
  EXPECT_EQ(split("[2001:db8::1]:2193").port, "2193");
  // Without a port, a bracketed IPv6 host is split at its last colon.
  EXPECT_EQ(split("[2001:db8::1]").host, "[2001:db8:");
  EXPECT_EQ(split("[2001:db8::1]").port, "1]");
  EXPECT_EQ(split("").host, "");
}

TEST(parse_tcp_addr, rejects_any_other_protocol) {
  for (const char* spec : {"ssl://host", "udp/host", "TCP/host:1", "host/path", "/"}) {
    try {
      split(spec);
      ADD_FAILURE() << spec << " must be rejected";
    } catch (const net2::spec_parse_error_shell_t& e) {
      EXPECT_EQ(std::string(e.what()), std::string("address \"") + spec + "\" contains unknown protocol");
    }
  }
}

TEST(make_ep, numeric_ipv4_and_bracketed_ipv6) {
  const uint64_t channels = dns::utils::channels_created();
  net2::ip::endpoint_t ep;
  net2::ip::make_ep(ep, "10.0.0.1", "2193");
  EXPECT_EQ(ep.address().to_string(), "10.0.0.1");
  EXPECT_EQ(ep.port(), 2193);
  net2::ip::make_ep(ep, "127.0.0.1", uint16_t{80});
  EXPECT_EQ(ep.address().to_string(), "127.0.0.1");
  EXPECT_EQ(ep.port(), 80);
  net2::ip::make_ep(ep, "[2001:db8::1]", "65535");
  EXPECT_TRUE(ep.address().is_v6());
  EXPECT_EQ(ep.address().to_string(), "2001:db8::1");
  EXPECT_EQ(ep.port(), 65535);
  net2::ip::make_ep(ep, "255.255.255.255", "1");
  EXPECT_EQ(ep.address().to_string(), "255.255.255.255");
  EXPECT_EQ(dns::utils::channels_created(), channels) << "numeric hosts never create a channel";
}

TEST(make_ep, rejects_bad_port_texts) {
  net2::ip::endpoint_t ep;
  for (const char* port : {"70000", "65536", "-1", "abc", "", "12x"}) {
    EXPECT_THROW(net2::ip::make_ep(ep, "10.0.0.1", port), number_format_exception_shell_t) << port;
  }
}

TEST(format_endpoint, numeric_forms) {
  using net2::detail::ip::format_endpoint;
  const boost::asio::ip::tcp::endpoint v4(boost::asio::ip::make_address("192.0.2.7"), 2193);
  EXPECT_EQ(format_endpoint(v4, true, false, true), "tcp://192.0.2.7:2193");
  EXPECT_EQ(format_endpoint(v4, false, false, true), "192.0.2.7:2193");
  EXPECT_EQ(format_endpoint(v4, false, false, false), "192.0.2.7");
  const boost::asio::ip::tcp::endpoint v6(boost::asio::ip::make_address("2001:db8::1"), 80);
  EXPECT_EQ(format_endpoint(v6, true, false, true), "tcp://[2001:db8::1]:80");
  EXPECT_EQ(format_endpoint(v6, false, false, false), "[2001:db8::1]");
  // 0.0.0.0 turns back into the name "0" without any lookup.
  const boost::asio::ip::tcp::endpoint any(boost::asio::ip::address_v4::any(), 5);
  EXPECT_EQ(format_endpoint(any, false, true, true), "0:5");
}

TEST(format_endpoint, unconnected_socket_yields_placeholder) {
  capture_logger_t log;
  boost::asio::io_context service;
  boost::asio::ip::tcp::socket socket(service);
  EXPECT_EQ(net2::format_remote_endpoint(socket, true, false, true), "<not_connected>");
  EXPECT_EQ(net2::format_local_endpoint(socket, true, false, true), "<not_connected>");
  EXPECT_EQ(net2::stream::utils::get_addr(socket, false), "<not_connected>");
  EXPECT_EQ(log.count("Unable to format endpoint because of ", lvl_debug0), 3u) << log.dump();
}

TEST(data_socket_factory, rejects_empty_and_unusable_specifications_before_creating_anything) {
  boost::asio::io_context service;
  const auto create = [&](const std::string& spec) {
    return net2::stream::data_socket::tcp(service, spec, 2193, {}, {}, {}, "TEST", 1024, 8192);
  };
  try {
    create("");
    ADD_FAILURE();
  } catch (const net_address_format_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "empty specification");
  }
  try {
    net2::stream::data_socket::tcp(service, std::string(), std::string(), 1, {}, {}, {}, "TEST", 1024, 8192);
    ADD_FAILURE();
  } catch (const net_address_format_exception_shell_t& e) {
    EXPECT_STREQ(e.what(), "empty address");
  }
  EXPECT_THROW(create("udp/10.0.0.1:1"), net2::spec_parse_error_shell_t);
  try {
    create("10.0.0.1:70000");
    ADD_FAILURE();
  } catch (const net2::spec_parse_error_shell_t& e) {
    EXPECT_EQ(std::string(e.what()).rfind("unable to parse IP address \"10.0.0.1:70000\" because of ", 0), 0u)
        << e.what();
    ASSERT_NE(e.body()->cause(), nullptr);  // the conversion's failure is kept as the cause
  }
  try {
    create("[2001:db8::1]");  // split at its last colon: port text "1]"
    ADD_FAILURE();
  } catch (const net2::spec_parse_error_shell_t& e) {
    // Host "[2001:db8:" and port text "1]" (the conversion's complaint).
    EXPECT_EQ(std::string(e.what()).rfind("unable to parse IP address \"[2001:db8::1]\" because of ", 0), 0u)
        << e.what();
  }
  service.run();  // nothing was started
}

}  // namespace
