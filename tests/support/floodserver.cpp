#include "tests/support/floodserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/stallserver.h"

namespace testsupport {

namespace {

// BER with definite lengths, as LDAP sends it.
std::string Tlv(unsigned char tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  const size_t n = content.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else {
    std::string len;
    for (size_t v = n; v; v >>= 8) len.insert(len.begin(), static_cast<char>(v & 0xff));
    out += static_cast<char>(0x80 | len.size());
    out += len;
  }
  return out + content;
}

std::string Integer(int value) {
  std::string bytes;
  for (unsigned v = static_cast<unsigned>(value);; v >>= 8) {
    bytes.insert(bytes.begin(), static_cast<char>(v & 0xff));
    if (v < 0x80) break;
  }
  return Tlv(0x02, bytes);
}

std::string Message(int id, const std::string& op) { return Tlv(0x30, Integer(id) + op); }

std::string BindResponse(int id) {
  return Message(id, Tlv(0x61, Tlv(0x0a, std::string(1, '\0')) + Tlv(0x04, "") + Tlv(0x04, "")));
}

std::string Entry(int id, long n, const std::string& base, size_t descriptionBytes) {
  const std::string cn = "flood" + std::to_string(n);
  const std::string dn = "cn=" + cn + (base.empty() ? "" : "," + base);
  std::string attrs =
      Tlv(0x30, Tlv(0x04, "objectClass") + Tlv(0x31, Tlv(0x04, "top") + Tlv(0x04, "person"))) +
      Tlv(0x30, Tlv(0x04, "cn") + Tlv(0x31, Tlv(0x04, cn)));
  if (descriptionBytes > 0)
    attrs += Tlv(
        0x30, Tlv(0x04, "description") + Tlv(0x31, Tlv(0x04, std::string(descriptionBytes, 'x'))));
  return Message(id, Tlv(0x64, Tlv(0x04, dn) + Tlv(0x30, attrs)));
}

// One element at the start of `in`: its tag, where its content starts and how long it
// is; nullopt while it is not complete.
struct Element {
  unsigned char tag;
  size_t start;
  size_t length;
};
std::optional<Element> Read(const std::string& in, size_t at) {
  if (in.size() < at + 2) return std::nullopt;
  const unsigned char tag = static_cast<unsigned char>(in[at]);
  size_t len = static_cast<unsigned char>(in[at + 1]);
  size_t start = at + 2;
  if (len & 0x80) {
    const size_t bytes = len & 0x7f;
    if (bytes == 0 || bytes > 4 || in.size() < start + bytes) return std::nullopt;
    len = 0;
    for (size_t i = 0; i < bytes; ++i) len = (len << 8) | static_cast<unsigned char>(in[start + i]);
    start += bytes;
  }
  if (in.size() < start + len) return std::nullopt;
  return Element{tag, start, len};
}

struct Client {
  int fd = -1;
  std::string in;
  std::string out;  // what is still to be sent of the current chunk
  bool flooding = false;
  int searchId = 0;
  std::string base;
  long next = 0;
};

}  // namespace

FloodServer::FloodServer(Mode mode) : mode_(mode) {
  listen_ = ListenOnLoopback(128, &port_);
  thread_ = std::thread([this] { Run(); });
}

FloodServer::~FloodServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ::close(listen_);
}

void FloodServer::Run() {
  std::vector<Client> clients;
  while (!stop_) {
    std::vector<pollfd> fds{{listen_, POLLIN, 0}};
    for (const Client& c : clients)
      fds.push_back({c.fd, short(POLLIN | (c.flooding || !c.out.empty() ? POLLOUT : 0)), 0});
    ::poll(fds.data(), fds.size(), 20);
    if (fds[0].revents & POLLIN)
      for (int fd; (fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
        clients.emplace_back().fd = fd;
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      const short revents = i + 1 < fds.size() ? fds[i + 1].revents : 0;
      if (c.fd < 0) continue;
      if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        const ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n <= 0) {
          ::close(c.fd);
          c.fd = -1;
          continue;
        }
        c.in.append(buf, static_cast<size_t>(n));
        // Each complete request: a bind is answered, a search starts the flood, the
        // rest (abandon, unbind) is not heeded. A new search takes the flood over.
        while (const auto msg = Read(c.in, 0)) {
          const auto id = Read(c.in, msg->start);
          if (id && id->tag == 0x02) {
            int msgid = 0;
            for (size_t k = 0; k < id->length; ++k)
              msgid = (msgid << 8) | static_cast<unsigned char>(c.in[id->start + k]);
            const auto op = Read(c.in, id->start + id->length);
            if (op && op->tag == 0x60) {
              c.out += BindResponse(msgid);
            } else if (op && op->tag == 0x63) {
              const auto base = Read(c.in, op->start);
              c.base = base ? c.in.substr(base->start, base->length) : std::string();
              c.searchId = msgid;
              c.flooding = true;
              ++searches_;
              if (mode_ == Mode::HugeLength) c.out += std::string("\x30\x84\x7f\xff\xff\xff", 6);
            }
          }
          c.in.erase(0, msg->start + msg->length);
        }
      }
      // Sends as much as the socket takes (up to a few MB a round, so that every client
      // gets its turn), refilling the stream as it goes.
      for (size_t round = 0;
           round < 4 * 1024 * 1024 && c.fd >= 0 && (c.flooding || !c.out.empty());) {
        if (c.out.empty()) {
          if (mode_ == Mode::HugeLength) {
            c.out.assign(64 * 1024, '\0');
          } else {
            const size_t description = mode_ == Mode::LargeEntries ? 16 * 1024 : 0;
            for (int k = 0; k < 256; ++k) c.out += Entry(c.searchId, c.next++, c.base, description);
          }
        }
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n <= 0) {
          if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            ::close(c.fd);
            c.fd = -1;
          }
          break;
        }
        c.out.erase(0, static_cast<size_t>(n));
        round += static_cast<size_t>(n);
      }
    }
  }
  for (const Client& c : clients)
    if (c.fd >= 0) ::close(c.fd);
}

}  // namespace testsupport
