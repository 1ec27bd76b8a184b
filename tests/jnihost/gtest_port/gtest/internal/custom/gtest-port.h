// GoogleTest's port hook, for the Windows host only: the toolchain's win32 thread model has no
// std::mutex or std::condition_variable, which gtest's own Notification is made of. gtest needs
// Notification only to start the threads of its own thread tests; the host runs one thread.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
