#pragma once
// One background thread that runs jobs one after another, in the order they were queued: the
// log's file writes, the sound cues. Callers never wait for a job unless they ask to (drain).

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvel {

class SerialQueue {
public:
    // `atExit` runs on the queue's thread after the last job (to release what the jobs built
    // there, such as a sound-server connection).
    explicit SerialQueue(std::function<void()> atExit = {});
    // Runs what is still queued, then ends the thread.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void enqueue(std::function<void()> job);
    // Waits until every job queued so far has run.
    void drain();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    bool busy_ = false;                       // guarded by mutex_
    bool stopping_ = false;                   // guarded by mutex_
    std::function<void()> atExit_;
    std::thread thread_;  // last: started once the members above exist
};

}  // namespace quorvel
