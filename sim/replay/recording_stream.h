// A recording read one event at a time on a thread of its own, a few hundred events
// ahead of the replay, so that a recording of any length replays in little memory.
// The replay takes what was read in batches: the two threads wake each other once a
// batch, not once an event.
#pragma once

#include "replay/recording_reader.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace player {

class RecordingStream {
  public:
    RecordingStream() = default;
    RecordingStream(const RecordingStream&) = delete;
    RecordingStream& operator=(const RecordingStream&) = delete;
    ~RecordingStream() { close(); }

    // Starts reading; waits for the recording's head. False, with the problem in
    // *error, when the file cannot be read as a recording at all.
    bool open(const std::string& path, std::string* error);
    // The next event; false at the end (or at a problem further on: see failed()).
    bool next(rec::Event* event);
    // Stops reading and waits for the reader.
    void close();

    // The recording's head (settings, save file) once open; its blocks, end mark and
    // torn tail once next() has answered false.
    const rec::Recording& head() const { return head_; }
    // A problem found after the head (a block that does not decode): the events
    // before it were whole, the recording is not.
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }

  private:
    void read(std::string path);

    rec::Recording head_;
    std::string error_;
    bool failed_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
    // The events read and not yet taken. It and the batch trade places, keeping
    // their room: no allocation an event.
    std::vector<rec::Event> queue_;
    size_t queued_ = 0; // the queue's memory (rec::eventBytes)
    bool started_ = false, finished_ = false, cancelled_ = false;
    // Who waits for the other: woken only then.
    bool readerWaits_ = false, replayWaits_ = false;
    // The batch taken from the queue, handed out by next() without the lock.
    std::vector<rec::Event> taken_;
    size_t handed_ = 0; // the batch's events handed out so far
    std::thread thread_;
};

} // namespace player
