// The keyboard of a randomized session (random_session.h) on threads of its own, as
// the game's keyboard thread is: one that sends the session's key events in step
// with it, and one that sends other keys' events as fast as it can.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace stress {

// Sends key events from a thread of its own, one at a time, each when the session
// asks and before it goes on: another thread, the same order every time.
class KeyboardThread {
  public:
    KeyboardThread();
    ~KeyboardThread();
    void send(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh);

  private:
    void run();
    std::mutex m_;
    std::condition_variable cv_;
    bool pending_ = false, quit_ = false;
    uint32_t key_ = 0;
    int32_t fifth_ = 0, sixth_ = 0, seventh_ = 0;
    std::thread thread_;
};

// Key events of every key but the drink key, as fast as a keyboard could never
// send them, while the script runs.
class NoiseThread {
  public:
    NoiseThread(uint64_t seed, uint32_t drinkKey);
    ~NoiseThread();

  private:
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

} // namespace stress
