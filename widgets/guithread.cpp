#include "widgets/guithread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <exception>
#include <thread>

bool IsGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void OnGuiThread(const std::function<void()>& f) {
  if (IsGuiThread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), f, Qt::BlockingQueuedConnection);
}

void RunOffGuiThread(const std::function<void()>& work) {
  if (!QCoreApplication::instance() || !IsGuiThread()) {
    work();
    return;
  }
  QEventLoop loop;
  std::atomic<bool> done{false};
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    done = true;
    // Posted to the loop object: dropped unseen if the loop is gone by then.
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  // The worker may be waiting for this thread (a message box, the logon dialog), so the
  // loop runs until the worker is done, even when something else asked every loop to end.
  while (!done) loop.exec();
  worker.join();
  if (error) std::rethrow_exception(error);
}
