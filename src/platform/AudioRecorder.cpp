#include "platform/AudioRecorder.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QThread>
#include <cstdio>

#include "platform/AudioCapture.h"
#include "platform/AudioPcm.h"
#include "services/Log.h"
#include "services/MainDispatcher.h"

namespace quorvel {

int microphoneAuthorizationStatus() { return AudioRecorder::kAuthorized; }

AudioRecorder::AudioRecorder() : authorization_(microphoneAuthorizationStatus) {}

AudioRecorder::~AudioRecorder() { releaseEngine(); }

void AudioRecorder::setAuthorizationProvider(std::function<int()> provider) {
    authorization_ = provider ? std::move(provider) : std::function<int()>(microphoneAuthorizationStatus);
}

bool AudioRecorder::start() {
    if (running_) return true;
    if (authorization_() != kAuthorized) {
        Log::warn("recorder.start: микрофон не авторизован — движок не трогаем");
        return false;
    }
    ring_.reset();
    if (!startCapture()) return false;
    running_ = true;
    return true;
}

bool AudioRecorder::startCapture() {
    // With no audio server or no microphone the default input is a null device with an
    // invalid format; that is the "no input" case, reported without touching the stream.
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    const QAudioFormat format = AudioCapture::chooseFormat(device);
    if (device.isNull() || format.sampleRate() <= 0 || format.channelCount() <= 0) {
        Log::error("recorder.start: невалидный hw format " + AudioPcm::describe(format) +
                   (device.isNull() ? " (no input device)" : ""));
        return false;
    }

    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(QStringLiteral("quorvel-audio-capture"));
    capture_ = new AudioCapture(converter_, ring_);
    capture_->moveToThread(thread_.get());
    connect(thread_.get(), &QThread::finished, capture_, &QObject::deleteLater);
    // Reports hold the recorder weakly: the dispatcher drops them once it is gone.
    capture_->onReport = [this](CaptureConverter::LevelReport report) {
        MainDispatcher::dispatch(this, [this, r = std::move(report)]() mutable { deliver(std::move(r)); });
    };
    const uint64_t generation = ++generation_;
    capture_->onInterrupted = [this, generation](std::string reason) {
        MainDispatcher::dispatch(this, [this, generation, reason] { handleInterruption(generation, reason); });
    };
    thread_->start();

    std::string failure;
    QMetaObject::invokeMethod(
        capture_, [&] { failure = capture_->open(device, format); }, Qt::BlockingQueuedConnection);
    if (!failure.empty()) {
        Log::error("recorder.start failed: " + failure);
        releaseEngine();
        return false;
    }
    Log::info("recorder started: hw " + std::to_string(format.sampleRate()) + " Hz " +
              std::to_string(format.channelCount()) + "ch → tap (hw) → ресемплер (linear) → 16 кГц mono");
    return true;
}

std::vector<float> AudioRecorder::stop() {
    if (!running_) return {};
    releaseEngine();
    running_ = false;
    std::vector<float> samples = ring_.snapshot();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(samples.size()) / 16000.0);
    Log::info("recorder stopped: " + std::to_string(samples.size()) + " samples (" + seconds + "s)");
    return samples;
}

void AudioRecorder::releaseEngine() {
    if (!thread_) return;
    QMetaObject::invokeMethod(capture_, [c = capture_] { c->close(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();  // the capture object is deleted as the thread finishes
    thread_.reset();
    capture_ = nullptr;
}

void AudioRecorder::deliver(CaptureConverter::LevelReport report) {
    if (onLevel) onLevel(report.level);
    if (onSamples) onSamples(report.tail);
}

void AudioRecorder::handleInterruption(uint64_t generation, const std::string& reason) {
    // A late notice from a recording already stopped (or replaced) changes nothing.
    if (!running_ || !thread_ || generation != generation_) return;
    Log::error("recorder: capture ended by the audio system: " + reason +
               " — keeping " + std::to_string(ring_.sampleCount()) + " samples until stop");
    releaseEngine();
    if (onInterrupted) onInterrupted();
}

}  // namespace quorvel
