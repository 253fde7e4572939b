#include "replay/recording_stream.h"

namespace player {

namespace {

// Events read ahead of the replay, at most: so many, and (past the first) no more
// memory than this, in the queue and again in the batch the replay has taken.
const size_t Ahead = 256;
const size_t AheadBytes = 1u << 20;

} // namespace

void RecordingStream::read(std::string path) {
    std::string error;
    const bool ok = rec::readRecordingEvents(
        path, &head_,
        [this](rec::Event&& e) {
            std::unique_lock<std::mutex> hold(lock_);
            if (!started_) {
                started_ = true;
                changed_.notify_all();
            }
            readerWaits_ = true;
            changed_.wait(hold, [this] {
                return (queue_.size() < Ahead && (queue_.empty() || queued_ < AheadBytes)) || cancelled_;
            });
            readerWaits_ = false;
            if (cancelled_) return false;
            queued_ += rec::eventBytes(e);
            queue_.push_back(std::move(e));
            if (replayWaits_) changed_.notify_all();
            return true;
        },
        &error);
    std::lock_guard<std::mutex> hold(lock_);
    if (!ok) {
        failed_ = true;
        error_ = error;
    }
    finished_ = true;
    changed_.notify_all();
}

bool RecordingStream::open(const std::string& path, std::string* error) {
    thread_ = std::thread(&RecordingStream::read, this, path);
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return started_ || finished_; });
    // A recording that fails before its first event is no recording at all.
    if (failed_ && !started_) {
        *error = error_;
        return false;
    }
    return true;
}

bool RecordingStream::next(rec::Event* event) {
    if (handed_ == taken_.size()) {
        std::unique_lock<std::mutex> hold(lock_);
        replayWaits_ = true;
        changed_.wait(hold, [this] { return !queue_.empty() || finished_; });
        replayWaits_ = false;
        if (queue_.empty()) return false;
        taken_.clear();
        handed_ = 0;
        taken_.swap(queue_);
        queued_ = 0;
        if (readerWaits_) changed_.notify_all();
    }
    *event = std::move(taken_[handed_++]);
    return true;
}

void RecordingStream::close() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        cancelled_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

} // namespace player
