#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace hx {

// Runs `fn` on a thread of its own and keeps the GUI thread's events flowing until it returns, then returns
// its result. For calls into the core that may wait on other threads for a while (a service being switched,
// the workers being stopped): the window goes on taking the messages and changes they report meanwhile. User
// input to the windows is held back until the call is done; a message box shown meanwhile takes input as
// usual. Events are processed by hand rather than by a nested event loop, which would return at once once the
// application has been told to quit, and shut-down is exactly when this must still work.
template <class F>
auto RunBesideGui(F&& fn) -> std::invoke_result_t<F> {
  using Result = std::invoke_result_t<F>;
  using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
  std::optional<Stored> result;
  std::atomic<bool> done{false};
  std::thread helper([&] {
    if constexpr (std::is_void_v<Result>) {
      fn();
      result.emplace(true);
    } else {
      result.emplace(fn());
    }
    done.store(true);
    // Wakes the GUI thread if it is waiting for events.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
  });
  while (!done.load())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
  helper.join();
  if constexpr (!std::is_void_v<Result>) return std::move(*result);
}

}  // namespace hx
