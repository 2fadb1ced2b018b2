// Directory work off the GUI thread. Connecting, logging on, loading, saving and the
// wizard's checks run on a worker thread while the GUI thread keeps processing events:
// the "Please Wait..." window paints, shows progress and takes the Cancel button. The
// work may show messages and ask for the logon details from the worker thread (those
// front ends hand themselves over to the GUI thread).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "directoryui/pleasewaitdialog.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"
#include "store/directory/oldcopyremover.h"
#include "widgets/guithread.h"

// How Cancel reaches the work. Waits: every wait on the server ends at once with
// ldapx::kCancelled (connect, logon, load, checks). ByWork: only the work itself looks at
// PleaseWait::CancelRequested and stops where it can still undo what it did (a save).
enum class CancelBy { Waits, ByWork };

namespace detail {
template <class Work>
auto RunWith(WidgetPleaseWait& wait, Work& work, CancelBy cancel) {
  using Result = std::invoke_result_t<Work&, directory::PleaseWait&>;
  std::optional<Result> result;
  RunOffGuiThread([&] {
    std::optional<ldapx::CancelScope> scope;
    if (cancel == CancelBy::Waits) scope.emplace([&wait] { return wait.CancelRequested(); });
    result.emplace(work(static_cast<directory::PleaseWait&>(wait)));
  });
  wait.Close();
  return std::move(*result);
}
}  // namespace detail

// Runs `work(PleaseWait&)` on a worker thread and returns its result. The window starts
// hidden: the work shows it (and may close it, e.g. while the logon dialog is up).
template <class Work>
auto RunInWorker(QWidget* parent, Work&& work, CancelBy cancel = CancelBy::Waits) {
  WidgetPleaseWait wait(parent);
  return detail::RunWith(wait, work, cancel);
}

// The same with the window shown with `heading` and `message` before the worker starts,
// so that from then on the other windows take no input.
template <class Work>
auto RunWithPleaseWait(QWidget* parent, const std::string& heading, const std::string& message,
                       Work&& work, CancelBy cancel = CancelBy::Waits) {
  WidgetPleaseWait wait(parent);
  wait.Show(heading, message);
  return detail::RunWith(wait, work, cancel);
}

// Before the program ends: waits for `remover` under the "Please Wait..." window (no
// window when it is idle), whose Cancel leaves the rest for a later save to remove.
inline void FinishOldCopyRemoval(directory::OldCopyRemover& remover) {
  if (!remover.Busy()) return;
  RunWithPleaseWait(
      nullptr, std::string(msg::LoadString(61282)), std::string(msg::LoadString(62232)),
      [&remover](directory::PleaseWait& wait) {
        while (!remover.WaitIdle(std::chrono::milliseconds(100)))
          if (wait.CancelRequested()) remover.Cancel();
        return true;
      },
      CancelBy::ByWork);
}
