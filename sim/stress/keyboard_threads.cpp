// The session's keyboard threads (keyboard_threads.h): the key events reach the
// plug-in's handler from another thread than the one that plays the frames.
#include "stress/keyboard_threads.h"

#include "stress/seeded_rng.h"
#include "sim.h"

#include <chrono>

namespace stress {

KeyboardThread::KeyboardThread() : thread_([this] { run(); }) {}

KeyboardThread::~KeyboardThread() {
    {
        std::lock_guard<std::mutex> lock(m_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void KeyboardThread::send(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
    std::unique_lock<std::mutex> lock(m_);
    key_ = key;
    fifth_ = fifth;
    sixth_ = sixth;
    seventh_ = seventh;
    pending_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return !pending_; });
}

void KeyboardThread::run() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        cv_.wait(lock, [this] { return pending_ || quit_; });
        if (quit_) return;
        sim::keyEvent(key_, fifth_, sixth_, seventh_);
        pending_ = false;
        cv_.notify_all();
    }
}

NoiseThread::NoiseThread(uint64_t seed, uint32_t drinkKey)
    : thread_([this, seed, drinkKey] {
          Rng rng(seed);
          while (!quit_.load(std::memory_order_relaxed)) {
              uint32_t key = rng.below(400);
              if (key == drinkKey) key = 255;
              sim::keyEvent(key, (int32_t)rng.below(2), (int32_t)rng.below(2), (int32_t)rng.below(2));
              std::this_thread::sleep_for(std::chrono::microseconds(100));
          }
      }) {}

NoiseThread::~NoiseThread() {
    quit_ = true;
    thread_.join();
}

} // namespace stress
