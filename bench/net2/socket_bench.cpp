// One loopback conversation: connect, send one line, read one line back,
// close. Through data_socket::tcp on a pool, next to a minimal hand-written
// Boost.Asio client on the same kind of threads (asynchronous, waited on by
// the caller) and a blocking one. The echo server runs on its own thread.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/thread/thread.hpp>

#include "net2/pool.h"
#include "net2/stream/socket.h"

namespace {

using boost::asio::ip::tcp;

// Answers every line with "PONG\n" and closes when the client does.
class echo_server_t {
 public:
  echo_server_t() : acceptor_(service_, tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0)) {
    accept();
    thread_ = std::thread([this] { service_.run(); });
  }
  ~echo_server_t() {
    service_.stop();
    thread_.join();
  }
  uint16_t port() const { return acceptor_.local_endpoint().port(); }

 private:
  struct session_t : std::enable_shared_from_this<session_t> {
    explicit session_t(tcp::socket s) : socket(std::move(s)) {}
    void start() {
      auto self = shared_from_this();
      boost::asio::async_read_until(socket, input, '\n', [self](boost::system::error_code e, size_t) {
        if (e) return;
        boost::asio::async_write(self->socket, boost::asio::buffer(reply, 5), [self](boost::system::error_code e2, size_t) {
          if (!e2) self->drain();
        });
      });
    }
    void drain() {
      auto self = shared_from_this();
      socket.async_read_some(boost::asio::buffer(scratch), [self](boost::system::error_code e, size_t) {
        if (!e) self->drain();
      });
    }
    tcp::socket socket;
    boost::asio::streambuf input;
    char scratch[64];
    static constexpr char reply[] = "PONG\n";
  };
  void accept() {
    acceptor_.async_accept([this](boost::system::error_code e, tcp::socket s) {
      if (!e) std::make_shared<session_t>(std::move(s))->start();
      accept();
    });
  }
  boost::asio::io_context service_;
  tcp::acceptor acceptor_;
  std::thread thread_;
};

echo_server_t& server() {
  static echo_server_t instance;
  return instance;
}

struct done_t {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  void set() {
    std::lock_guard<std::mutex> guard(mutex);
    done = true;
    changed.notify_one();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return done; });
    done = false;
  }
};

void data_socket_exchange(benchmark::State& state) {
  const std::string spec = "tcp/127.0.0.1:" + std::to_string(server().port());
  net2::pool pool(2, "bench", "BenchPool");
  done_t finished;
  std::string reply;
  for (auto _ : state) {
    reply.clear();
    auto socket = net2::stream::data_socket::tcp(
        pool.service(), spec, 0,
        [](net2::stream::data_socket::shared s) {
          std::string line = "PING\n";
          s->send(net2::stream::data_buffer::take(line));
          return true;
        },
        [&](net2::stream::shared_data data) {
          for (auto b = data->next(); b.size != 0; b = data->next()) reply.append(b.data, b.size);
          return reply.find('\n') == std::string::npos;  // one line, then done
        },
        [&] { finished.set(); }, "BENCH", 1024, 8192);
    finished.wait();
    socket->close();
  }
  if (reply != "PONG\n") state.SkipWithError(("wrong reply: [" + reply + "]").c_str());
}
BENCHMARK(data_socket_exchange)->UseRealTime();

// The same exchange written directly on Boost.Asio: asynchronous on two
// threads serving an I/O context, the caller waiting for the end.
void minimal_asio_exchange(benchmark::State& state) {
  const tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), server().port());
  boost::asio::io_context service;
  auto work = boost::asio::make_work_guard(service);
  boost::thread_group threads;
  for (int i = 0; i < 2; ++i) threads.create_thread([&service] { service.run(); });
  done_t finished;
  std::string reply;
  static const char ping[] = "PING\n";
  for (auto _ : state) {
    tcp::socket socket(service);
    boost::asio::streambuf input;
    socket.async_connect(endpoint, [&](boost::system::error_code e) {
      if (e) return finished.set();
      boost::asio::async_write(socket, boost::asio::buffer(ping, 5), [&](boost::system::error_code e2, size_t) {
        if (e2) return finished.set();
        boost::asio::async_read_until(socket, input, '\n', [&](boost::system::error_code, size_t n) {
          reply.assign(boost::asio::buffers_begin(input.data()), boost::asio::buffers_begin(input.data()) + n);
          finished.set();
        });
      });
    });
    finished.wait();
    socket.close();
  }
  service.stop();
  threads.join_all();
  if (reply != "PONG\n") state.SkipWithError("wrong reply");
}
BENCHMARK(minimal_asio_exchange)->UseRealTime();

// For scale: the blocking form on the caller's thread (no thread hand-over).
void blocking_asio_exchange(benchmark::State& state) {
  const tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), server().port());
  boost::asio::io_context service;
  std::string reply;
  for (auto _ : state) {
    tcp::socket socket(service);
    socket.connect(endpoint);
    boost::asio::write(socket, boost::asio::buffer("PING\n", 5));
    boost::asio::streambuf input;
    const size_t n = boost::asio::read_until(socket, input, '\n');
    reply.assign(boost::asio::buffers_begin(input.data()), boost::asio::buffers_begin(input.data()) + n);
    socket.close();
  }
  if (reply != "PONG\n") state.SkipWithError("wrong reply");
}
BENCHMARK(blocking_asio_exchange)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
