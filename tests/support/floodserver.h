// A loopback TCP server that answers the bind and then never ends an answer: every
// search gets an endless stream of valid entries (no SearchResultDone), or a message
// header announcing a 2 GB message followed by zeros. Abandons and unbinds are not
// heeded; the stream goes on until the client closes the connection or sends another
// search, which then gets the stream. Runs in its own
// thread until destroyed.
#pragma once

#include <atomic>
#include <thread>

namespace testsupport {

class FloodServer {
 public:
  enum class Mode {
    EndlessEntries,  // entries "cn=floodN,<base>" with objectClass and cn, without end
    LargeEntries,    // the same, each with a description of 16 KB: many MB a second
    HugeLength,      // 30 84 7f ff ff ff, then zeros without end
  };

  explicit FloodServer(Mode mode);
  ~FloodServer();
  FloodServer(const FloodServer&) = delete;
  FloodServer& operator=(const FloodServer&) = delete;

  int port() const { return port_; }
  // Searches answered with a flood so far.
  int searches() const { return searches_; }

 private:
  void Run();

  Mode mode_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<int> searches_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testsupport
