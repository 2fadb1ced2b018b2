// A loopback TCP server that speaks just enough LDAP to misbehave on purpose: it accepts
// connections and then stays silent, sends half an answer and stalls, sends its answers
// one byte at a time, or answers with bytes that cannot be decoded. Runs in its own thread until
// destroyed.
#pragma once

#include <atomic>
#include <thread>

namespace testsupport {

// A non-blocking listening socket on a free loopback port with `backlog`; `port` receives
// the port. The misbehaving servers of the tests listen on it.
int ListenOnLoopback(int backlog, int* port);

class StallServer {
 public:
  enum class Mode {
    Silent,         // reads requests, never answers
    HalfBind,       // answers the first request with half a BindResponse, then stalls
    DripBind,       // answers the first request with a BindResponse, one byte per drip
    BindThenDrip,   // answers the bind at once (success), then drips a SearchResultDone
    BindThenDeaf,   // answers the bind at once (success), then never reads again
    NoAccept,       // a listening socket whose queue is full: connects never complete
    GarbageBind,    // answers the first request with text that is no LDAP message, then closes
    MalformedBind,  // answers the first request with a BindResponse that lacks its result
  };

  explicit StallServer(Mode mode, int dripMilliseconds = 5000);
  ~StallServer();
  StallServer(const StallServer&) = delete;
  StallServer& operator=(const StallServer&) = delete;

  int port() const { return port_; }
  // Connections accepted so far.
  int accepted() const { return accepted_; }

 private:
  void Run();

  Mode mode_;
  int drip_;
  int listen_ = -1;
  int port_ = 0;
  int fillers_[4] = {-1, -1, -1, -1};
  std::atomic<int> accepted_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testsupport
