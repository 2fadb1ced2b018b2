// A small TCP proxy on loopback that adds a fixed delay to every chunk of data in each
// direction, to measure how the program behaves against a far-away directory server.
//
//   delayproxy LISTEN_PORT TARGET_PORT ONE_WAY_DELAY_MS [SECONDS]
//
// Listens on 127.0.0.1:LISTEN_PORT and forwards every connection to 127.0.0.1:TARGET_PORT;
// a round trip through it costs 2 x ONE_WAY_DELAY_MS more. Prints "ready" once listening.
// Ends by itself after SECONDS (default 900) so it can never be left running.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
  Clock::time_point due;
  std::string data;
  size_t sent = 0;
};

// One direction of one connection: bytes read from `from` wait until due, then go to `to`.
struct Pipe {
  int from = -1;
  int to = -1;
  std::deque<Chunk> queue;
  bool eof = false;
};

struct Session {
  int client = -1;
  int server = -1;
  Pipe up, down;
  bool dead = false;
};

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void NoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  NoDelay(fd);
  SetNonBlocking(fd);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: delayproxy LISTEN_PORT TARGET_PORT ONE_WAY_DELAY_MS [SECONDS]\n");
    return 2;
  }
  const int listenPort = std::atoi(argv[1]);
  const int targetPort = std::atoi(argv[2]);
  const auto delay = std::chrono::microseconds(static_cast<long>(std::atof(argv[3]) * 1000));
  const int lifetime = argc > 4 ? std::atoi(argv[4]) : 900;
  std::signal(SIGPIPE, SIG_IGN);

  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(listenPort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(lfd, 64) != 0) {
    std::perror("delayproxy: listen");
    return 1;
  }
  SetNonBlocking(lfd);
  std::printf("ready\n");
  std::fflush(stdout);

  const auto end = Clock::now() + std::chrono::seconds(lifetime);
  std::vector<std::unique_ptr<Session>> sessions;
  std::vector<char> buffer(1 << 16);

  while (Clock::now() < end) {
    std::vector<pollfd> fds;
    fds.push_back({lfd, POLLIN, 0});
    Clock::time_point next = end;
    for (auto& s : sessions) {
      for (Pipe* p : {&s->up, &s->down}) {
        if (!p->eof) fds.push_back({p->from, POLLIN, 0});
        if (!p->queue.empty()) {
          if (p->queue.front().due <= Clock::now())
            fds.push_back({p->to, POLLOUT, 0});
          else if (p->queue.front().due < next)
            next = p->queue.front().due;
        }
      }
    }
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now());
    timespec ts{};
    if (wait.count() > 0) {
      ts.tv_sec = wait.count() / 1000000;
      ts.tv_nsec = (wait.count() % 1000000) * 1000;
    }
    ppoll(fds.data(), fds.size(), &ts, nullptr);
    const auto now = Clock::now();

    if (fds[0].revents & POLLIN) {
      int c;
      while ((c = accept(lfd, nullptr, nullptr)) >= 0) {
        NoDelay(c);
        SetNonBlocking(c);
        int s = Connect(targetPort);
        if (s < 0) {
          close(c);
          continue;
        }
        auto session = std::make_unique<Session>();
        session->client = c;
        session->server = s;
        session->up.from = c;
        session->up.to = s;
        session->down.from = s;
        session->down.to = c;
        sessions.push_back(std::move(session));
      }
    }
    for (auto& s : sessions) {
      for (Pipe* p : {&s->up, &s->down}) {
        if (!p->eof) {
          ssize_t n = read(p->from, buffer.data(), buffer.size());
          if (n > 0)
            p->queue.push_back(
                {now + delay, std::string(buffer.data(), static_cast<size_t>(n)), 0});
          else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            p->eof = true;
        }
        while (!p->queue.empty() && p->queue.front().due <= now) {
          Chunk& c = p->queue.front();
          ssize_t n = write(p->to, c.data.data() + c.sent, c.data.size() - c.sent);
          if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            s->dead = true;
            break;
          }
          c.sent += static_cast<size_t>(n);
          if (c.sent == c.data.size()) p->queue.pop_front();
        }
        if (p->eof && p->queue.empty()) shutdown(p->to, SHUT_WR);
      }
      if ((s->up.eof && s->up.queue.empty() && s->down.eof && s->down.queue.empty()) || s->dead) {
        close(s->client);
        close(s->server);
        s->client = s->server = -1;
      }
    }
    std::erase_if(sessions, [](const auto& s) { return s->client < 0; });
  }
  close(lfd);
  return 0;
}
