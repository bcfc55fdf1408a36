// A TCP relay on 127.0.0.1 that holds every piece of data for a while in each direction: a link
// with a long round trip (a satellite, a saturated uplink) for the fault tests, on a kernel without
// netem. Prints the port it listens on, then relays until killed.
//   delay_relay LISTEN_PORT(0: any) TARGET_PORT ONE_WAY_DELAY_MS
// Or a UDP port on 127.0.0.1 that takes every datagram and answers none (a name server that
// never answers):
//   delay_relay --silent-udp PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Both sockets of one relayed connection, closed once neither direction uses them.
struct Sockets {
  int client, server;
  ~Sockets() {
    close(client);
    close(server);
  }
};

// One direction: each piece read is written delay later, in order; the end of the sender's data
// reaches the receiver after the last piece.
void Relay(std::shared_ptr<Sockets> sockets, bool up, std::chrono::milliseconds delay) {
  const int from = up ? sockets->client : sockets->server,
            to = up ? sockets->server : sockets->client;
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::pair<Clock::time_point, std::string>> held;
  bool ended = false;
  std::thread writer([&] {
    for (;;) {
      std::unique_lock lock(mutex);
      arrived.wait(lock, [&] { return ended || !held.empty(); });
      if (held.empty()) break;
      auto [due, bytes] = std::move(held.front());
      held.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(due);
      for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = send(to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {  // the receiver is gone: nothing more is read for it
          shutdown(from, SHUT_RD);
          return;
        }
        sent += static_cast<size_t>(n);
      }
    }
    shutdown(to, SHUT_WR);
  });
  char buffer[65536];
  for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;) {
    std::lock_guard lock(mutex);
    held.emplace_back(Clock::now() + delay, std::string(buffer, static_cast<size_t>(got)));
    arrived.notify_one();
  }
  {
    std::lock_guard lock(mutex);
    ended = true;
  }
  arrived.notify_one();
  writer.join();
}

}  // namespace

int main(int argc, char** argv) {
  const bool udp = argc == 3 && std::string(argv[1]) == "--silent-udp";
  if (argc != 4 && !udp) {
    std::fprintf(stderr, "usage: delay_relay LISTEN_PORT TARGET_PORT ONE_WAY_DELAY_MS\n");
    return 2;
  }
  const int listener = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = Loopback(std::atoi(argv[udp ? 2 : 1]));
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (!udp && listen(listener, 16) != 0) ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("delay_relay");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  char datagram[2048];
  while (udp) recv(listener, datagram, sizeof datagram, 0);

  const std::chrono::milliseconds delay(std::atoi(argv[3]));
  const sockaddr_in target = Loopback(std::atoi(argv[2]));
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    auto sockets = std::make_shared<Sockets>(client, socket(AF_INET, SOCK_STREAM, 0));
    if (connect(sockets->server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
      continue;  // the client sees its connection close
    for (int fd : {client, sockets->server})
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::thread(Relay, sockets, true, delay).detach();
    std::thread(Relay, sockets, false, delay).detach();
  }
}
