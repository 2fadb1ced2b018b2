// Work away from the GUI thread: widgets may only be touched on the GUI thread, so the
// front ends that a worker thread calls (message boxes, the logon dialog, the "Please
// Wait..." window) hand their work over with OnGuiThread.
#pragma once

#include <functional>

// True on the thread that runs the application's event loop (or when there is no
// application object).
bool IsGuiThread();

// Runs `f` on the GUI thread and returns when it is done: directly when called there,
// otherwise queued to the GUI thread's event loop, blocking the caller meanwhile. The GUI
// thread must be processing events (RunOffGuiThread makes sure of that).
void OnGuiThread(const std::function<void()>& f);

// Runs `work` on a worker thread while the calling (GUI) thread keeps processing events,
// so windows repaint, timers run and buttons answer; returns when `work` has returned.
// An exception thrown by `work` is thrown again here. Off the GUI thread (or without an
// application object) `work` simply runs in place.
void RunOffGuiThread(const std::function<void()>& work);
