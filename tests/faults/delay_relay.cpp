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
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Piece {
  Clock::time_point due;
  std::string bytes;
};

// One direction of one connection.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Piece> held;
  bool ended = false;  // the sender closed; the receiver hears of it once all is delivered
};

struct Link {
  Direction up, down;
  bool dead = false;
};

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Reads what is there into the direction's queue; false once the connection failed.
bool Take(Direction& direction, std::chrono::milliseconds delay) {
  char buffer[65536];
  const ssize_t got = read(direction.from, buffer, sizeof buffer);
  if (got < 0) return false;
  if (got == 0) {
    direction.ended = true;
    return true;
  }
  direction.held.push_back({Clock::now() + delay, std::string(buffer, static_cast<size_t>(got))});
  return true;
}

// Writes what is due; false once the connection failed.
bool Deliver(Direction& direction) {
  while (!direction.held.empty() && direction.held.front().due <= Clock::now()) {
    std::string& bytes = direction.held.front().bytes;
    const ssize_t sent = send(direction.to, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) return false;
    bytes.erase(0, static_cast<size_t>(sent));
    if (!bytes.empty()) return true;  // the receiver is full: the rest waits
    direction.held.pop_front();
  }
  if (direction.ended && direction.held.empty()) shutdown(direction.to, SHUT_WR);
  return true;
}

}  // namespace

int SilentUdp(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = Loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("delay_relay");
    return 1;
  }
  std::printf("%d\n", port);
  std::fflush(stdout);
  char datagram[2048];
  for (;;) recv(fd, datagram, sizeof datagram, 0);
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--silent-udp") return SilentUdp(std::atoi(argv[2]));
  if (argc != 4) {
    std::fprintf(stderr, "usage: delay_relay LISTEN_PORT TARGET_PORT ONE_WAY_DELAY_MS\n");
    return 2;
  }
  const int target = std::atoi(argv[2]);
  const std::chrono::milliseconds delay(std::atoi(argv[3]));
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = Loopback(std::atoi(argv[1]));
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("delay_relay");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);

  std::list<Link> links;
  for (;;) {
    std::vector<pollfd> watched{{listener, POLLIN, 0}};
    for (Link& link : links) {
      for (Direction* d : {&link.up, &link.down}) {
        if (!d->ended) watched.push_back({d->from, POLLIN, 0});
      }
    }
    poll(watched.data(), watched.size(), 5);  // also wakes for pieces falling due
    size_t index = 1;
    for (Link& link : links) {
      for (Direction* d : {&link.up, &link.down}) {
        if (d->ended) continue;
        const short events = watched[index++].revents;
        if ((events & (POLLIN | POLLHUP | POLLERR)) && !Take(*d, delay)) link.dead = true;
      }
      for (Direction* d : {&link.up, &link.down}) {
        if (!link.dead && !Deliver(*d)) link.dead = true;
      }
      if (link.up.ended && link.down.ended && link.up.held.empty() && link.down.held.empty())
        link.dead = true;
    }
    if (watched[0].revents & POLLIN) {
      const int client = accept(listener, nullptr, nullptr);
      const int server = client >= 0 ? Connect(target) : -1;
      if (server < 0) {
        if (client >= 0) close(client);
      } else {
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Link& link = links.emplace_back();
        link.up = {client, server, {}, false};
        link.down = {server, client, {}, false};
      }
    }
    for (auto it = links.begin(); it != links.end();) {
      if (it->dead) {
        close(it->up.from);
        close(it->down.from);
        it = links.erase(it);
      } else {
        ++it;
      }
    }
  }
}
