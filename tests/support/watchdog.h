#pragma once
// Runs `rescue` on a thread of its own if the test body has not called finish() within
// `limit_ms`, so that a wait that fails to end makes the test fail instead of hanging it.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

class Watchdog {
  public:
    Watchdog(int limit_ms, std::function<void()> rescue)
        : thread_([this, limit_ms, rescue = std::move(rescue)] {
              auto deadline =
                  std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
              while (!done_.load()) {
                  if (std::chrono::steady_clock::now() > deadline) {
                      fired_.store(true);
                      rescue();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~Watchdog() { finish(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Stops the watch; true if the rescue was needed.
    bool finish() {
        done_.store(true);
        if (thread_.joinable()) thread_.join();
        return fired_.load();
    }

  private:
    std::atomic<bool> done_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};
