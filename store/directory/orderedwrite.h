// Writing new entries so that the load gives siblings back in the order of the list, many
// adds in flight: the directory puts siblings in the order of their change sequence
// numbers, which it hands out as it takes up each add.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "store/directory/directorysave.h"

namespace directory {

// Adds in flight at once. Well below the 1000 pending requests slapd allows an
// authenticated connection by default.
inline constexpr int kAddWindow = 256;

// What the writes report, and how they learn that the user asked to cancel (either may be
// empty).
struct WriteHooks {
  std::function<void(long done)> progress;
  std::function<bool()> cancelled;
};

// Writes over one connection with the options of one save; what it learns about the
// server (its round trip, whether it hands back sequence numbers, whether it takes a
// touch) holds for every later write of the same writer.
class OrderedWriter {
 public:
  OrderedWriter(ldapx::Connection& connection, const SaveOptions& options, WriteHooks hooks);
  ~OrderedWriter();
  OrderedWriter(const OrderedWriter&) = delete;
  OrderedWriter& operator=(const OrderedWriter&) = delete;

  // Adds `requests` without transactions (each request's `after` is its parent or the
  // sibling it must follow; the list holds parents before children) below `base`, so that
  // siblings come back from the directory in list order, reporting progress from
  // `progressBase` on. Returns the first failure; `failed` its index (-1: none known).
  //
  // The load puts siblings in the order of their change sequence numbers (entryCSN),
  // which the server hands out as it takes up each add; with several requests in flight
  // it may take them up in another order. Waiting for each sibling's answer before
  // sending the next costs one round trip per sibling. Instead each depth is written in
  // waves: the next few siblings of every run are sent at once, their sequence numbers
  // read back, and those after the first one out of order deleted again (they have no
  // children yet) to be sent in the next wave. The first of each wave follows a sibling
  // already answered, so every wave keeps at least one per run. Where the answers carry
  // the numbers (post-read), the runs go in one stream instead and siblings out of order
  // are touched into place (StreamRuns); where the server refuses that, a run sends
  // nothing more once its order broke, and a wave costs only what was in flight then.
  // Where the server keeps no sequence numbers, the siblings are written one after the
  // other.
  // Cancelled only with `cancellable`.
  int AddInOrder(const std::vector<ldapx::Connection::AddRequest>& requests,
                 const std::string& base, long progressBase, int& failed, bool cancellable);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace directory
