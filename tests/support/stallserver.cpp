#include "tests/support/stallserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace testsupport {

namespace {

// BindResponse (message id 1, success) and SearchResultDone (message id 2, success).
const unsigned char kBindResponse[] = {0x30, 0x0c, 0x02, 0x01, 0x01, 0x61, 0x07,
                                       0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
const unsigned char kSearchDone[] = {0x30, 0x0c, 0x02, 0x01, 0x02, 0x65, 0x07,
                                     0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};

// What a web server says to an LDAP request before it closes the connection, and a
// BindResponse (message id 1) whose LDAPResult is empty.
const char kNotLdap[] =
    "HTTP/1.1 400 Bad Request\r\nServer: nginx\r\nContent-Type: text/html\r\n"
    "Content-Length: 0\r\nConnection: close\r\n\r\n";
const unsigned char kEmptyBindResponse[] = {0x30, 0x05, 0x02, 0x01, 0x01, 0x61, 0x00};

using Clock = std::chrono::steady_clock;

struct Client {
  int fd = -1;
  int requests = 0;                    // reads that brought bytes after the last answer began
  const unsigned char* out = nullptr;  // what is being dripped
  size_t outSize = 0;
  size_t sent = 0;
  Clock::time_point next{};
  bool deaf = false;  // reads nothing any more, so the client's writes pile up
};

}  // namespace

int ListenOnLoopback(int backlog, int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(fd, backlog);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

StallServer::StallServer(Mode mode, int dripMilliseconds) : mode_(mode), drip_(dripMilliseconds) {
  listen_ = ListenOnLoopback(mode == Mode::NoAccept ? 0 : 128, &port_);
  if (mode == Mode::NoAccept) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    // Fill the accept queue; the kernel then drops every further SYN, so a connect
    // neither completes nor fails.
    for (int& f : fillers_) {
      f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ::connect(f, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

StallServer::~StallServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (int f : fillers_)
    if (f >= 0) ::close(f);
  ::close(listen_);
}

void StallServer::Run() {
  std::vector<Client> clients;
  while (!stop_) {
    std::vector<pollfd> fds{{listen_, POLLIN, 0}};
    for (const Client& c : clients) fds.push_back({c.fd, short(c.deaf ? 0 : POLLIN), 0});
    ::poll(fds.data(), fds.size(), 20);
    if (fds[0].revents & POLLIN) {
      // Everything queued, so that quick clients never find the queue full.
      for (int fd; (fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        clients.push_back(Client{fd});
        ++accepted_;
      }
    }
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      // Clients accepted in this round were not polled yet.
      const short revents = i + 1 < fds.size() ? fds[i + 1].revents : 0;
      if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        const ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n == 0) {  // the client went away
          ::close(c.fd);
          c.fd = -1;
          c.out = nullptr;
        } else if (n > 0) {
          ++c.requests;
          if (mode_ == Mode::HalfBind && c.requests == 1) {
            (void)!::write(c.fd, kBindResponse, sizeof kBindResponse / 2);
          } else if (mode_ == Mode::DripBind && c.requests == 1) {
            c.out = kBindResponse;
            c.outSize = sizeof kBindResponse;
            c.next = Clock::now();
          } else if (mode_ == Mode::GarbageBind && c.requests == 1) {
            (void)!::write(c.fd, kNotLdap, sizeof kNotLdap - 1);
            ::shutdown(c.fd, SHUT_WR);
          } else if (mode_ == Mode::MalformedBind && c.requests == 1) {
            (void)!::write(c.fd, kEmptyBindResponse, sizeof kEmptyBindResponse);
          } else if (mode_ == Mode::BindThenDeaf && c.requests == 1) {
            (void)!::write(c.fd, kBindResponse, sizeof kBindResponse);
            c.deaf = true;
          } else if (mode_ == Mode::BindThenDrip && c.requests == 1) {
            (void)!::write(c.fd, kBindResponse, sizeof kBindResponse);
          } else if (mode_ == Mode::BindThenDrip && c.requests == 2) {
            c.out = kSearchDone;
            c.outSize = sizeof kSearchDone;
            c.next = Clock::now();
          }
        }
      }
      if (c.fd >= 0 && c.out && c.sent < c.outSize && Clock::now() >= c.next) {
        (void)!::write(c.fd, c.out + c.sent, 1);
        ++c.sent;
        c.next = Clock::now() + std::chrono::milliseconds(drip_);
      }
    }
  }
  for (const Client& c : clients)
    if (c.fd >= 0) ::close(c.fd);
}

}  // namespace testsupport
