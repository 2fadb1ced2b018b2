#include "store/directory/orderedwrite.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/ldap/dn.h"
#include "store/directory/directoryload.h"
#include "store/directory/subtreedelete.h"

namespace directory {

namespace {

// Without transactions the adds go in chunks, so that progress and cancel are seen.
constexpr size_t kChunk = 2000;
// Siblings of one run sent in its first wave, and at most in one wave.
constexpr size_t kFirstWave = 16;
constexpr size_t kMaxWave = 512;
// Runs of siblings up to this length are written one sibling after the other (all such
// runs at once) instead of in waves.
constexpr size_t kChainedRun = 32;
// The time between two adds of a wave: the first, the least and the most.
constexpr std::chrono::microseconds kFirstSpacing(100);
constexpr std::chrono::microseconds kLeastSpacing(40);
constexpr std::chrono::microseconds kMostSpacing(2000);

// The shape of a list of adds whose `after` names either the parent or the previous
// sibling: each request's parent (-1: an entry that exists already), the sibling it
// must follow in the directory's order (-1: none) and its depth.
struct AddLayout {
  std::vector<int> parent, previous, depth;
  int depths = 0;
};

AddLayout LayoutOf(const std::vector<ldapx::Connection::AddRequest>& requests) {
  AddLayout l;
  const size_t n = requests.size();
  l.parent.assign(n, -1);
  l.previous.assign(n, -1);
  l.depth.assign(n, 0);
  // Each DN parsed once; one that is no DN is taken for a sibling.
  std::vector<std::optional<ldapx::Dn>> dns(n);
  for (size_t i = 0; i < n; ++i) dns[i] = ldapx::Dn::Parse(requests[i].dn);
  for (size_t i = 0; i < n; ++i) {
    const int a = requests[i].after;
    if (a >= 0 && static_cast<size_t>(a) < i) {
      if (dns[i] && dns[a] && dns[i]->IsChildOf(*dns[a])) {
        l.parent[i] = a;
      } else {
        l.parent[i] = l.parent[a];
        l.previous[i] = a;
      }
    }
    l.depth[i] = l.parent[i] < 0 ? 0 : l.depth[l.parent[i]] + 1;
    l.depths = std::max(l.depths, l.depth[i] + 1);
  }
  return l;
}

}  // namespace

class OrderedWriter::Impl {
 public:
  Impl(ldapx::Connection& connection, const SaveOptions& options, WriteHooks hooks)
      : connection_(connection),
        options_(options),
        hooks_(std::move(hooks)),
        postRead_(options.readBackOrder),
        touch_(options.touchOutOfOrder) {}

  // See OrderedWriter::AddInOrder.
  int AddInOrder(const std::vector<ldapx::Connection::AddRequest>& requests,
                 const std::string& base, long progressBase, int& failed, bool cancellable) {
    failed = -1;
    const AddLayout layout = LayoutOf(requests);
    std::vector<std::vector<int>> byDepth(static_cast<size_t>(layout.depths));
    for (size_t i = 0; i < requests.size(); ++i)
      byDepth[layout.depth[i]].push_back(static_cast<int>(i));
    long placed = progressBase;
    for (const std::vector<int>& level : byDepth) {
      // First every entry that follows no sibling (runs' first entries, input groups,
      // fields): no order among them matters.
      std::vector<int> free;
      for (int i : level)
        if (layout.previous[i] < 0) free.push_back(i);
      if (const int rc = AddInChunks(requests, free, nullptr, placed, failed, cancellable);
          rc != ldapx::kSuccess)
        return rc;
      const int rc = AddRuns(requests, layout, level, base, placed, failed, cancellable);
      if (rc != ldapx::kSuccess) return rc;
    }
    return ldapx::kSuccess;
  }

  // AddSome of `which` in chunks, so that progress and cancel are seen between them;
  // `placed` counts what was added.
  int AddInChunks(const std::vector<ldapx::Connection::AddRequest>& requests,
                  const std::vector<int>& which, const std::vector<int>* previous, long& placed,
                  int& failed, bool cancellable) {
    for (size_t begin = 0; begin < which.size(); begin += kChunk) {
      if (cancellable && Cancelled()) return ldapx::kCancelled;
      const size_t end = std::min(which.size(), begin + kChunk);
      const std::vector<int> part(which.begin() + static_cast<long>(begin),
                                  which.begin() + static_cast<long>(end));
      const int rc = AddSome(requests, part, previous, failed);
      if (rc != ldapx::kSuccess) return rc;
      placed += static_cast<long>(part.size());
      Progress(placed);
    }
    return ldapx::kSuccess;
  }

  // The waves of AddInOrder for the runs of siblings of one depth.
  int AddRuns(const std::vector<ldapx::Connection::AddRequest>& requests, const AddLayout& layout,
              const std::vector<int>& level, const std::string& base, long& placed, int& failed,
              bool cancellable) {
    // Each run: the entry already written that it follows, then its entries in order.
    std::vector<std::vector<int>> runs;
    std::unordered_map<int, size_t> runOf;
    for (int i : level) {
      const int p = layout.previous[i];
      if (p < 0) continue;
      auto found = runOf.find(p);
      size_t r = 0;
      if (found == runOf.end()) {
        r = runs.size();
        runs.push_back({p});
      } else {
        r = found->second;
      }
      runs[r].push_back(i);
      runOf[i] = r;
    }
    if (runs.empty()) return ldapx::kSuccess;

    // Short runs (a rule set's rules, a group's fields) go one sibling after the other,
    // every run at once: that keeps their order at no cost in requests, and a level of
    // many short runs takes as many round trips as its longest run. Long runs go so too
    // when the server is near. The list holds the runs' second entries first, then their
    // third, and so on, so that the ones that may go next are near its front.
    {
      bool anyLong = false;
      for (const std::vector<int>& run : runs) anyLong = anyLong || run.size() - 1 > kChainedRun;
      const bool chainAll = anyLong && NearServer(base);
      const auto chainedRun = [chainAll](const std::vector<int>& run) {
        return chainAll || run.size() - 1 <= kChainedRun;
      };
      std::vector<int> chained;
      for (size_t k = 1;; ++k) {
        bool any = false;
        for (const std::vector<int>& run : runs) {
          if (!chainedRun(run) || k >= run.size()) continue;
          chained.push_back(run[k]);
          any = true;
        }
        if (!any) break;
      }
      // A sibling's predecessor is always in its own chunk or an earlier one, which is
      // complete.
      if (const int rc =
              AddInChunks(requests, chained, &layout.previous, placed, failed, cancellable);
          rc != ldapx::kSuccess)
        return rc;
      std::erase_if(runs, chainedRun);
      if (runs.empty()) return ldapx::kSuccess;
    }

    // Runs that all share one parent (the records below the root) are read with one
    // level of search below it, not the whole subtree.
    int parent = layout.parent[runs.front()[0]];
    for (const std::vector<int>& run : runs)
      if (layout.parent[run[0]] != parent) parent = -2;
    CsnReader csns(connection_, parent >= 0 ? requests[parent].dn : base, parent != -2);
    std::vector<size_t> kept(runs.size(), 0);  // position of the last entry in place
    std::vector<size_t> wave(runs.size(), kFirstWave);
    std::vector<std::string> lastCsn(runs.size());
    std::vector<char> blind(runs.size(), 0);
    // The adds of a wave must not come faster than the server takes them up, or they
    // queue and run side by side again: a wave cut short spaces the next one further
    // apart, a wave taken whole a little closer.
    std::chrono::microseconds spacing = postRead_ ? options_.streamSpacing : kFirstSpacing;
    {
      const int rc = csns.Read(std::string());
      if (rc != ldapx::kSuccess) {
        failed = runs.front()[1];
        return rc;
      }
      bool known = true;
      for (size_t r = 0; r < runs.size(); ++r) {
        const std::string* c = csns.Of(requests[runs[r][0]].dn);
        if (!c) {
          known = false;
          break;
        }
        lastCsn[r] = *c;
      }
      if (!known) {  // nothing to check the order by: one sibling after the other
        std::vector<int> rest;
        for (const std::vector<int>& run : runs)
          rest.insert(rest.end(), run.begin() + 1, run.end());
        const int rc2 = AddSome(requests, rest, &layout.previous, failed);
        if (rc2 == ldapx::kSuccess) {
          placed += static_cast<long>(rest.size());
          Progress(placed);
        }
        return rc2;
      }
    }
    if (postRead_ && touch_) {
      bool fallBack = false;
      const int rc =
          StreamRuns(requests, runs, base, lastCsn, kept, placed, failed, cancellable, fallBack);
      if (!fallBack) return rc;
    }
    while (true) {
      if (cancellable && Cancelled()) return ldapx::kCancelled;
      std::vector<int> sent;
      std::vector<std::pair<size_t, size_t>> span(runs.size());  // first, end in the run
      size_t widest = 0;
      for (size_t r = 0; r < runs.size(); ++r) {
        const size_t first = kept[r] + 1;
        const size_t end = blind[r] ? first : std::min(runs[r].size(), first + wave[r]);
        span[r] = {first, end};
        widest = std::max(widest, end - first);
      }
      // The runs take turns, and the adds go a little apart: the server then takes up
      // the siblings of a run in the order sent nearly always, and a wave keeps most of
      // what it sent. Sent all at once, about one in five came out of order (slapd on
      // two cores).
      std::vector<size_t> runOf;                             // position in `sent` -> run
      std::vector<std::vector<size_t>> sentAt(runs.size());  // run, position - first -> sent
      for (size_t k = 0; k < widest; ++k)
        for (size_t r = 0; r < runs.size(); ++r)
          if (span[r].first + k < span[r].second) {
            sentAt[r].push_back(sent.size());
            runOf.push_back(r);
            sent.push_back(runs[r][span[r].first + k]);
          }
      // The spacing is between two siblings of one run; the other runs' adds fill it.
      long active = 0;
      for (const auto& [first, end] : span) active += first < end ? 1 : 0;
      if (sent.empty()) {
        std::vector<int> rest;
        for (size_t r = 0; r < runs.size(); ++r)
          rest.insert(rest.end(), runs[r].begin() + static_cast<long>(kept[r] + 1), runs[r].end());
        const int rc = AddSome(requests, rest, &layout.previous, failed);
        if (rc == ldapx::kSuccess && !rest.empty()) {
          placed += static_cast<long>(rest.size());
          Progress(placed);
        }
        return rc;
      }
      // Where the server hands back each add's sequence number with its answer, a run
      // whose order broke sends nothing more in this wave: what is still in flight is
      // all that has to go again.
      std::vector<std::string> readBack(sent.size());
      std::vector<size_t> inOrder(runs.size(), 0);  // answered in order, from the first
      std::vector<std::string> orderCsn = lastCsn;
      std::vector<char> broken(runs.size(), 0);
      ldapx::Connection::AddHooks hooks;
      if (postRead_) {
        hooks.postRead = "entryCSN";
        hooks.onAdded = [&](size_t k, const std::string& csn) {
          readBack[k] = csn;
          const size_t r = runOf[k];
          while (!broken[r] && inOrder[r] < sentAt[r].size()) {
            const std::string& next = readBack[sentAt[r][inOrder[r]]];
            if (next.empty()) break;
            if (!(orderCsn[r] < next)) {
              broken[r] = 1;
            } else {
              orderCsn[r] = next;
              ++inOrder[r];
            }
          }
        };
        hooks.skip = [&](size_t k) { return broken[runOf[k]] != 0; };
      }
      const std::chrono::microseconds step = spacing / std::max(1L, active);
      const int window = postRead_ ? RoundTripWindow(base, step) : kAddWindow;
      std::vector<int> codes;
      int rc = AddSome(requests, sent, nullptr, failed, step, postRead_ ? &hooks : nullptr, &codes,
                       window);
      if (rc != ldapx::kSuccess) return rc;
      if (postRead_) {
        for (size_t k = 0; k < sent.size(); ++k)
          if (codes[k] == ldapx::kSuccess && readBack[k].empty()) postRead_ = false;
      }
      if (!postRead_) {
        std::string from;
        for (size_t r = 0; r < runs.size(); ++r)
          if (span[r].first < span[r].second && (from.empty() || lastCsn[r] < from))
            from = lastCsn[r];
        rc = csns.Read(from);
        if (rc != ldapx::kSuccess) {
          failed = sent.front();
          return rc;
        }
      }
      const auto csnOf = [&](size_t r, size_t k) -> const std::string* {
        if (!postRead_) return csns.Of(requests[runs[r][k]].dn);
        const size_t at = sentAt[r][k - span[r].first];
        return codes[at] == ldapx::kSuccess ? &readBack[at] : nullptr;
      };
      std::vector<int> undone;
      for (size_t r = 0; r < runs.size(); ++r) {
        const auto [first, end] = span[r];
        size_t k = first;
        for (; k < end; ++k) {
          const std::string* c = csnOf(r, k);
          if (!c && k == first) {
            // Sent after the entry it follows was answered, so in place; but nothing to
            // compare the rest of the run with: that goes one sibling after the other.
            blind[r] = true;
            ++k;
            break;
          }
          if (!c || !(lastCsn[r] < *c)) break;
          lastCsn[r] = *c;
        }
        placed += static_cast<long>(k - first);
        kept[r] = k - 1;
        // A wave taken whole may grow; one cut short starts again from what held. A wave
        // that stops itself where the order breaks can be as long as allowed.
        wave[r] = postRead_  ? kMaxWave
                  : k == end ? std::min(kMaxWave, wave[r] * 2)
                             : std::max<size_t>(2, (k - first) * 2);
        for (; k < end; ++k) {
          if (codes[sentAt[r][k - first]] != ldapx::kSuccess) continue;  // never sent
          undone.push_back(runs[r][k]);
        }
      }
      Progress(placed);
      if (!postRead_)
        spacing = undone.empty() ? std::max(kLeastSpacing, spacing * 4 / 5)
                                 : std::min(kMostSpacing, spacing * 3 / 2);
      rc = DeleteAgain(requests, undone, failed);
      if (rc != ldapx::kSuccess) return rc;
    }
  }

  // The runs of AddRuns as one stream, where the server hands back each write's sequence
  // number: the runs take turns, their adds go SaveOptions::streamSpacing apart, and as
  // the answers come in each run's entries are checked in order against the one before.
  // A sibling taken up before the one it follows is touched (a modify that leaves it as
  // it was but gives it a new number), and so is every sibling of its run sent after it,
  // in order, each once its add is answered; the stream does not stop for that. An
  // entry's number is the greatest handed back for it. `lastCsn` and `kept` as in
  // AddRuns, kept up to date. `fallBack` is set when the server hands back no numbers or
  // refuses a touch: the siblings added but not in place are deleted again, and the waves
  // go on from there (postRead_ or touch_ then false).
  int StreamRuns(const std::vector<ldapx::Connection::AddRequest>& requests,
                 const std::vector<std::vector<int>>& runs, const std::string& base,
                 std::vector<std::string>& lastCsn, std::vector<size_t>& kept, long& placed,
                 int& failed, bool cancellable, bool& fallBack) {
    struct Place {
      bool sent = false;   // its add went out
      bool added = false;  // its add succeeded
      bool stale = false;  // out of order: to be touched again
      int pending = 0;     // writes in flight
      std::string csn;     // the greatest number handed back for it
    };
    struct Run {
      size_t confirmed = 0;  // position of the last entry in place
      size_t next = 1;       // position of the next write
      std::vector<Place> at;
    };
    std::vector<Run> state(runs.size());
    std::unordered_map<size_t, std::pair<size_t, size_t>> where;  // request -> run, position
    size_t active = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
      state[r].confirmed = kept[r];
      state[r].next = kept[r] + 1;
      state[r].at.resize(runs[r].size());
      for (size_t k = kept[r] + 1; k < runs[r].size(); ++k)
        where.emplace(static_cast<size_t>(runs[r][k]), std::make_pair(r, k));
      active += kept[r] + 1 < runs[r].size() ? 1 : 0;
    }
    bool stop = false, cancelled = false, noNumbers = false;
    size_t turn = 0;
    long shown = placed;
    ldapx::Connection::OrderedHooks hooks;
    hooks.postRead = "entryCSN";
    hooks.touchType = "objectClass";
    hooks.next = [&]() -> std::optional<ldapx::Connection::OrderedWrite> {
      if (stop) return std::nullopt;
      if (cancellable && Cancelled()) {
        cancelled = stop = true;
        return std::nullopt;
      }
      for (size_t n = 0; n < runs.size(); ++n) {
        const size_t r = (turn + n) % runs.size();
        Run& run = state[r];
        if (run.next >= runs[r].size()) continue;
        Place& p = run.at[run.next];
        if (p.sent && !p.added) continue;  // a touch waits for the add's answer
        const ldapx::Connection::OrderedWrite w{static_cast<size_t>(runs[r][run.next]), p.sent, 0};
        p.sent = true;
        p.stale = false;
        ++p.pending;
        ++run.next;
        turn = r + 1;
        return w;
      }
      return std::nullopt;
    };
    hooks.answered = [&](const ldapx::Connection::OrderedWrite& w, int code,
                         const std::string& csn) {
      const auto [r, k] = where.at(w.index);
      Run& run = state[r];
      Place& p = run.at[k];
      --p.pending;
      if (code != ldapx::kSuccess) return;  // nothing more is sent
      if (!w.touch) p.added = true;
      if (csn.empty()) {
        noNumbers = stop = true;
        return;
      }
      if (p.csn < csn) p.csn = csn;
      while (run.confirmed + 1 < run.next) {
        const Place& q = run.at[run.confirmed + 1];
        if (q.stale || q.pending > 0 || q.csn.empty()) break;
        if (lastCsn[r] < q.csn) {
          lastCsn[r] = q.csn;
          ++run.confirmed;
          ++placed;
          continue;
        }
        // Taken up before the sibling it follows: it and all sent after it go again.
        for (size_t j = run.confirmed + 1; j < run.next; ++j) run.at[j].stale = true;
        run.next = run.confirmed + 1;
        break;
      }
      if (placed - shown >= 64) {
        shown = placed;
        Progress(placed);
      }
    };
    const std::chrono::microseconds step = options_.streamSpacing / std::max<size_t>(1, active);
    ldapx::Connection::OrderedWrite bad;
    const int rc =
        connection_.WriteInOrder(requests, RoundTripWindow(base, step), step, hooks, &bad);
    for (size_t r = 0; r < runs.size(); ++r) kept[r] = state[r].confirmed;
    Progress(placed);
    if (rc == ldapx::kSuccess && cancelled) return ldapx::kCancelled;
    const bool refusedTouch = rc != ldapx::kSuccess && bad.touch && rc != ldapx::kCancelled &&
                              rc != ldapx::kTimeout && rc != ldapx::kServerDown;
    if (rc != ldapx::kSuccess && !refusedTouch) {
      failed = static_cast<int>(bad.index);
      return rc;
    }
    if (rc == ldapx::kSuccess && !noNumbers) {
      for (size_t r = 0; r < runs.size(); ++r)
        if (state[r].confirmed + 1 < runs[r].size()) {
          failed = runs[r][state[r].confirmed + 1];
          return ldapx::kOther;
        }
      return ldapx::kSuccess;
    }
    // Back to the waves: what is not in place goes again there.
    fallBack = true;
    if (noNumbers) postRead_ = false;
    if (refusedTouch) touch_ = false;
    std::vector<int> undone;
    for (size_t r = 0; r < runs.size(); ++r)
      for (size_t k = state[r].confirmed + 1; k < runs[r].size(); ++k)
        if (state[r].at[k].added) undone.push_back(runs[r][k]);
    return DeleteAgain(requests, undone, failed);
  }

  // Deletes the entries of requests `which` again (siblings added out of order; they have
  // no children yet). Returns the first failure; `failed` its request.
  int DeleteAgain(const std::vector<ldapx::Connection::AddRequest>& requests,
                  const std::vector<int>& which, int& failed) {
    if (which.empty()) return ldapx::kSuccess;
    std::vector<std::string> dns;
    dns.reserve(which.size());
    for (int i : which) dns.push_back(requests[i].dn);
    int index = -1;
    const int rc = connection_.DeleteMany(dns, kRemoveWindow, &index);
    if (rc != ldapx::kSuccess) failed = index >= 0 ? which[index] : which.front();
    return rc;
  }

  // The most writes in flight for adds `step` apart: what one round trip to `base` holds,
  // and a few more, so that the answers are looked at while the adds go on.
  int RoundTripWindow(const std::string& base, std::chrono::microseconds step) {
    const auto trip = RoundTrip(base).value_or(std::chrono::milliseconds(5));
    return static_cast<int>(std::clamp<long>(
        trip.count() * 5 / 4 / std::max<long>(1, step.count()) + 4, 8, kAddWindow));
  }

  // True when a request to the server comes back within the options' chainedRoundTrip
  // (the best of three reads of `dn`, measured once per save). On a near server one
  // sibling after the other is several times faster than waves, whose order checks and
  // re-sent adds cost more than the wait for each answer (about 0.25 ms per sibling on
  // loopback against 1 ms in waves); far away, each answer costs a round trip.
  bool NearServer(const std::string& dn) {
    if (options_.chainedRoundTrip.count() <= 0) return false;
    const auto trip = RoundTrip(dn);
    return trip && *trip < options_.chainedRoundTrip;
  }

  // The time a request to the server takes to come back: the best of three reads of
  // `dn`, measured once per save; nothing when a read failed.
  std::optional<std::chrono::microseconds> RoundTrip(const std::string& dn) {
    if (!roundTrip_) {
      auto best = std::chrono::steady_clock::duration::max();
      for (int k = 0; k < 3; ++k) {
        const auto start = std::chrono::steady_clock::now();
        const ldapx::SearchResult r =
            connection_.Search(dn, ldapx::Scope::Base, "(objectClass=*)", {"1.1"});
        if (r.code != ldapx::kSuccess) return std::nullopt;
        best = std::min(best, std::chrono::steady_clock::now() - start);
      }
      roundTrip_ = std::chrono::duration_cast<std::chrono::microseconds>(best);
    }
    return roundTrip_;
  }

  // Reads the change sequence numbers of the entries below a base, all of them or those
  // from a given number on.
  class CsnReader {
   public:
    // With `oneLevel`, the entries directly below `base` only.
    CsnReader(ldapx::Connection& connection, std::string base, bool oneLevel)
        : connection_(connection), base_(std::move(base)), oneLevel_(oneLevel) {}
    // Reads the numbers not below `from` (empty: all).
    int Read(const std::string& from) {
      exact_.clear();
      normalised_.clear();
      if (!from.empty()) {
        read_ =
            connection_.Search(base_, oneLevel_ ? ldapx::Scope::OneLevel : ldapx::Scope::Subtree,
                               "(entryCSN>=" + ldapx::EscapeFilterValue(from) + ")", {"entryCSN"});
        if (read_.code == ldapx::kSuccess) return Index();
      }
      if (oneLevel_)
        read_ = connection_.Search(base_, ldapx::Scope::OneLevel, "(objectClass=*)", {"entryCSN"});
      // A size limit of the server: the whole subtree, read level by level.
      if (!oneLevel_ || read_.code != ldapx::kSuccess)
        read_ = ReadSubtree(connection_, base_, {"entryCSN"}, false);
      if (read_.code != ldapx::kSuccess) return read_.code;
      return Index();
    }
    // The number of the entry at `dn` as read (null when none was read).
    const std::string* Of(const std::string& dn) {
      const auto e = exact_.find(dn);
      if (e != exact_.end()) return e->second;
      // The server writes DNs its own way (no blank after a comma, other escapes).
      if (normalised_.empty()) {
        for (const auto& [text, csn] : exact_)
          if (const auto key = ldapx::NormalizeDn(std::string(text)))
            normalised_.emplace(*key, csn);
      }
      const auto key = ldapx::NormalizeDn(dn);
      const auto n = key ? normalised_.find(*key) : normalised_.end();
      return n == normalised_.end() ? nullptr : n->second;
    }

   private:
    int Index() {
      for (const ldapx::Entry& e : read_.entries)
        if (const ldapx::Attribute* csn = e.Find("entryCSN"); csn && !csn->values.empty())
          exact_.emplace(e.dn, &csn->values.front());
      return ldapx::kSuccess;
    }
    ldapx::Connection& connection_;
    std::string base_;
    bool oneLevel_;
    ldapx::SearchResult read_;
    std::unordered_map<std::string_view, const std::string*> exact_;
    std::unordered_map<std::string, const std::string*> normalised_;
  };

  // Adds requests `which` of `requests`, pipelined. With `previous`, each waits for the
  // sibling it follows when that is among `which`.
  int AddSome(const std::vector<ldapx::Connection::AddRequest>& requests,
              const std::vector<int>& which, const std::vector<int>* previous, int& failed,
              std::chrono::microseconds spacing = std::chrono::microseconds(0),
              const ldapx::Connection::AddHooks* hooks = nullptr, std::vector<int>* codes = nullptr,
              int window = kAddWindow) {
    std::vector<ldapx::Connection::AddRequest> batch;
    batch.reserve(which.size());
    std::unordered_map<int, int> position;
    for (size_t k = 0; k < which.size(); ++k) {
      const int i = which[k];
      int after = -1;
      if (previous && (*previous)[i] >= 0) {
        const auto p = position.find((*previous)[i]);
        if (p != position.end()) after = p->second;
      }
      if (previous) position.emplace(i, static_cast<int>(k));
      batch.push_back({requests[i].dn, requests[i].mods, after});
    }
    int index = -1;
    const int rc = connection_.AddMany(batch, window, &index, codes, spacing, hooks);
    if (rc != ldapx::kSuccess) failed = index >= 0 ? which[index] : which.front();
    return rc;
  }

 private:
  bool Cancelled() const { return hooks_.cancelled && hooks_.cancelled(); }
  void Progress(long done) {
    if (hooks_.progress) hooks_.progress(done);
  }

  ldapx::Connection& connection_;
  const SaveOptions& options_;
  WriteHooks hooks_;
  std::optional<std::chrono::microseconds> roundTrip_;
  // Sequence numbers are asked for with the adds' answers (SaveOptions::readBackOrder);
  // false once the server sent none.
  bool postRead_ = true;
  // Siblings out of order are touched (SaveOptions::touchOutOfOrder); false once the
  // server refused a touch.
  bool touch_ = true;
};

OrderedWriter::OrderedWriter(ldapx::Connection& connection, const SaveOptions& options,
                             WriteHooks hooks)
    : impl_(std::make_unique<Impl>(connection, options, std::move(hooks))) {}

OrderedWriter::~OrderedWriter() = default;

int OrderedWriter::AddInOrder(const std::vector<ldapx::Connection::AddRequest>& requests,
                              const std::string& base, long progressBase, int& failed,
                              bool cancellable) {
  return impl_->AddInOrder(requests, base, progressBase, failed, cancellable);
}

}  // namespace directory
