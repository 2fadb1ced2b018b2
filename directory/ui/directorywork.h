// Directory work off the GUI thread. Connecting, logging on, loading, saving and the
// wizard's checks run on a worker thread while the GUI thread keeps processing events:
// the "Please Wait..." window paints, shows progress and takes the Cancel button. The
// work may show messages and ask for the logon details from the worker thread (those
// front ends hand themselves over to the GUI thread).
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "guithread.h"
#include "ldapclient.h"
#include "pleasewaitdialog.h"

// How Cancel reaches the work. Waits: every wait on the server ends at once with
// ldapx::kCancelled (connect, logon, load, checks). ByWork: only the work itself looks at
// PleaseWait::CancelRequested and stops where it can still undo what it did (a save).
enum class CancelBy { Waits, ByWork };

// Runs `work(PleaseWait&)` on a worker thread and returns its result. The window starts
// hidden: the work shows it (and may close it, e.g. while the logon dialog is up).
template <class Work>
auto RunInWorker(QWidget* parent, Work&& work, CancelBy cancel = CancelBy::Waits) {
  using Result = std::invoke_result_t<Work&, directory::PleaseWait&>;
  WidgetPleaseWait wait(parent);
  std::optional<Result> result;
  RunOffGuiThread([&] {
    std::optional<ldapx::CancelScope> scope;
    if (cancel == CancelBy::Waits) scope.emplace([&wait] { return wait.CancelRequested(); });
    result.emplace(work(static_cast<directory::PleaseWait&>(wait)));
  });
  wait.Close();
  return std::move(*result);
}

// The same with the window shown at once, with `heading` and `message`.
template <class Work>
auto RunWithPleaseWait(QWidget* parent, const std::string& heading, const std::string& message,
                       Work&& work, CancelBy cancel = CancelBy::Waits) {
  return RunInWorker(
      parent,
      [&](directory::PleaseWait& wait) {
        wait.Show(heading, message);
        return work(wait);
      },
      cancel);
}
