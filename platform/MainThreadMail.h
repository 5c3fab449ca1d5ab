// Waking a main thread that waits for a worker: the worker's calls on the main thread
// and its end set the mail, so the waiting thread answers at once instead of at its
// next look.
#pragma once

#include <functional>

class QCoreApplication;
class TEvent;

// Set whenever a worker hands the main thread something to run, and when a worker ends.
TEvent& MainThreadMail();
// Runs fn on app's thread from another thread and waits for it (RunOnMainThread of the
// UiServices implementations), setting MainThreadMail once fn is queued.
void RunQueuedOnMainThread(QCoreApplication* app, const std::function<void()>& fn);
