#pragma once
// Captures the default microphone while a dictation runs and keeps it as 16 kHz mono float
// samples in the sample ring. The capture runs on its own thread (QAudioSource on the default
// input); level reports reach the main thread about thirty times a second. One recorder lives
// for the whole program and is reused for every dictation. start() and stop() are main-thread
// calls.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CaptureConverter.h"
#include "core/RingBuffer.h"

class QThread;

namespace quorvel {

class AudioCapture;

// Microphone permission as the recorder sees it. Desktop Linux has no per-application microphone
// permission, so this is always 3 (authorised); a missing device fails at start() instead.
int microphoneAuthorizationStatus();

class AudioRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kAuthorized = 3;

    AudioRecorder();
    ~AudioRecorder() override;

    // True when a recording is (already or now) in progress; false, with a log line, when none
    // could start (not authorised, no input device or audio server, the stream failed to open).
    bool start();
    // Ends the recording and returns its samples, oldest first; empty when none was running.
    std::vector<float> stop();
    bool isRunning() const { return running_; }

    // Main thread, in issue order; a report may arrive shortly after stop().
    std::function<void(float level)> onLevel;
    std::function<void(const std::vector<float>& samples)> onSamples;
    // Main thread: the audio system ended the capture by itself (server killed, device
    // unplugged). The recording stays open until stop(), which returns what was captured.
    std::function<void()> onInterrupted;

    // Where the microphone permission comes from; microphoneAuthorizationStatus() by default.
    // Headless runs replace it to force a status.
    void setAuthorizationProvider(std::function<int()> provider);

    const RingBuffer& ring() const { return ring_; }

private:
    bool startCapture();
    void releaseEngine();
    void deliver(CaptureConverter::LevelReport report);
    void handleInterruption(uint64_t generation, const std::string& reason);

    RingBuffer ring_{RingBuffer::kRecorderCapacity};
    CaptureConverter converter_;  // written by the capture thread only while it runs
    std::function<int()> authorization_;
    std::unique_ptr<QThread> thread_;  // the "engine" of one recording, with capture_
    AudioCapture* capture_ = nullptr;  // lives on thread_, deleted when it finishes
    bool running_ = false;
    uint64_t generation_ = 0;  // tells one recording's notices from the next one's
};

}  // namespace quorvel
