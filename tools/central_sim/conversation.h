// One client connection of central-sim: the server side of the line protocol,
// with the configured misbehaviour, reported as one JSON line when it ends.
#pragma once

#include <utility>  // Boost 1.74 Asio uses std::exchange without including it
#include <boost/asio.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/central_sim/options.h"

namespace central_sim {

class conversation_t : public std::enable_shared_from_this<conversation_t> {
 public:
  conversation_t(boost::asio::ip::tcp::socket socket, const options_t& options,
                 std::function<void(const std::string&)> report);
  void start();

 private:
  void read_more();
  void on_line(const std::string& line);
  void answer_validate(const std::string& client_id, const std::string& digest);
  // Queues bytes; writes go out one at a time, in order.
  void send(std::string bytes);
  void write_next();
  void after_delay(std::function<void()> next);
  void close(const char* by);

  boost::asio::ip::tcp::socket socket_;
  boost::asio::steady_timer timer_;
  const options_t& options_;
  std::function<void(const std::string&)> report_;
  std::string peer_;
  std::string input_;
  char buffer_[4096];
  std::deque<std::string> output_;
  bool writing_ = false;
  bool close_after_write_ = false;
  bool closed_ = false;
  unsigned sequence_ = 0;
  std::vector<std::string> lines_;
  std::string verdict_;
  bool verdict_sent_ = false;
};

std::string json_escape(const std::string& text);

}  // namespace central_sim
