// central-sim's server side of a conversation.
#include "tools/central_sim/conversation.h"

#include <cstdio>

namespace central_sim {

namespace asio = boost::asio;

namespace {

// A report keeps this many of the lines a client sent; a flooded client may
// send a great many.
constexpr size_t max_reported_lines = 1000;

// One write's worth of well-formed lines of a command the client does not know.
const std::string& line_flood_chunk() {
  static const std::string chunk = [] {
    std::string text;
    for (unsigned n = 1; text.size() < 64 * 1024; ++n) text += std::to_string(n) + " NOISE " + std::to_string(n * 7) + "\r\n";
    return text;
  }();
  return chunk;
}

}  // namespace

std::string json_escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof(hex), "\\u%04x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

conversation_t::conversation_t(asio::ip::tcp::socket socket, const options_t& options,
                               std::function<void(const std::string&)> report)
    : socket_(std::move(socket)), timer_(socket_.get_executor()), options_(options), report_(std::move(report)) {
  boost::system::error_code ec;
  const auto remote = socket_.remote_endpoint(ec);
  peer_ = ec ? "unknown" : remote.address().to_string() + ":" + std::to_string(remote.port());
}

void conversation_t::start() {
  read_more();
  if (options_.behaviour == behaviour_t::silent) return;
  after_delay([self = shared_from_this()] {
    self->send(std::to_string(self->sequence_++) + " PROTOCOL 1 2 " + self->options_.protocol_options + "\r\n");
    if (self->options_.behaviour == behaviour_t::flood) {
      self->send(std::string(self->options_.flood_bytes, 'x'));
    } else if (self->options_.behaviour == behaviour_t::line_flood) {
      self->send(line_flood_chunk());  // refilled whenever the queue runs dry
    }
  });
}

void conversation_t::read_more() {
  socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](boost::system::error_code ec, size_t n) {
    if (ec) {
      self->close("client");
      return;
    }
    self->input_.append(self->buffer_, n);
    // The client ends its lines with CR LF, its VIOLATION lines with a bare LF.
    size_t nl;
    while (!self->closed_ && (nl = self->input_.find('\n')) != std::string::npos) {
      std::string line = self->input_.substr(0, nl);
      self->input_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      self->on_line(line);
    }
    if (!self->closed_) self->read_more();
  });
}

void conversation_t::on_line(const std::string& line) {
  if (lines_.size() < max_reported_lines) lines_.push_back(line);
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    const size_t sp = line.find(' ', start);
    words.push_back(line.substr(start, sp == std::string::npos ? std::string::npos : sp - start));
    if (sp == std::string::npos) break;
    start = sp + 1;
  }
  if (words.size() < 2) return;
  const std::string& command = words[1];
  if (command == "NAPVALIDATE" && words.size() == 4) {
    answer_validate(words[2], words[3]);
  } else if (command == "STOP") {
    if (options_.behaviour != behaviour_t::linger) close("server");
  }
}

void conversation_t::answer_validate(const std::string& client_id, const std::string& digest) {
  switch (options_.behaviour) {
    case behaviour_t::silent:
    case behaviour_t::flood:
    case behaviour_t::line_flood:
      return;
    case behaviour_t::close_early:
      close("server");
      return;
    default:
      break;
  }
  after_delay([self = shared_from_this(), client_id, digest] {
    const behaviour_t b = self->options_.behaviour;
    std::string reply = std::to_string(self->sequence_++);
    if (b == behaviour_t::stop) {
      reply += " STOP\r\n";
    } else if (b == behaviour_t::violation) {
      reply += " VIOLATION not today\r\n";
    } else {
      self->verdict_ = self->options_.verdicts.lookup(client_id, digest);
      self->verdict_sent_ = true;
      reply += " NAPSTATE " + self->verdict_ + "\r\n";
      if (self->options_.coalesce) reply += std::to_string(self->sequence_++) + " STOP\r\n";
    }
    self->send(std::move(reply));
    if (b == behaviour_t::stop || b == behaviour_t::violation || self->options_.coalesce) {
      self->close_after_write_ = true;
    }
  });
}

void conversation_t::send(std::string bytes) {
  if (closed_) return;
  const size_t piece = options_.drip_ms != 0 ? 1 : options_.split_writes ? 3 : 0;
  if (piece != 0) {
    for (size_t i = 0; i < bytes.size(); i += piece) output_.push_back(bytes.substr(i, piece));
  } else {
    output_.push_back(std::move(bytes));
  }
  if (!writing_) write_next();
}

void conversation_t::write_next() {
  if (closed_) return;
  if (output_.empty() && options_.behaviour == behaviour_t::line_flood) output_.push_back(line_flood_chunk());
  if (output_.empty()) {
    writing_ = false;
    if (close_after_write_) close("server");
    return;
  }
  writing_ = true;
  asio::async_write(socket_, asio::buffer(output_.front()), [self = shared_from_this()](boost::system::error_code ec, size_t) {
    if (ec) {
      self->close("client");
      return;
    }
    self->output_.pop_front();
    if ((self->options_.split_writes || self->options_.drip_ms != 0) && !self->output_.empty()) {
      // Give each piece its own segment on the wire (and a drip its pause).
      self->timer_.expires_after(std::chrono::milliseconds(self->options_.drip_ms != 0 ? self->options_.drip_ms : 1));
      self->timer_.async_wait([self](boost::system::error_code) { self->write_next(); });
    } else {
      self->write_next();
    }
  });
}

void conversation_t::after_delay(std::function<void()> next) {
  if (options_.delay_ms == 0) {
    next();
    return;
  }
  timer_.expires_after(std::chrono::milliseconds(options_.delay_ms));
  timer_.async_wait([self = shared_from_this(), next = std::move(next)](boost::system::error_code ec) {
    if (!ec && !self->closed_) next();
  });
}

void conversation_t::close(const char* by) {
  if (closed_) return;
  closed_ = true;
  boost::system::error_code ignored;
  timer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  std::string json = "{\"peer\":\"" + json_escape(peer_) + "\",\"lines\":[";
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) json += ',';
    json += '"' + json_escape(lines_[i]) + '"';
  }
  json += "],\"verdict\":";
  json += verdict_sent_ ? '"' + json_escape(verdict_) + '"' : std::string("null");
  json += ",\"closed_by\":\"";
  json += by;
  json += "\"}";
  report_(json);
}

}  // namespace central_sim
