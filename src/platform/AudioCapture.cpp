#include "platform/AudioCapture.h"

#include <QAudioSource>
#include <QIODevice>
#include <QTimer>
#include <chrono>

#include "platform/AudioPcm.h"

namespace quorvel {
namespace {

// Asked-for delivery size. Left to itself the sound server picks large fragments, and the first
// samples of a recording (and every level report) come later.
constexpr qint64 kFragmentMicroseconds = 20000;

// A live source delivers all the time, silence included; this long without a byte means the
// stream is dead even if the audio system did not say so (a killed server sometimes leaves the
// source "active"). Generous: an idle virtual source may deliver in 2 s blocks.
constexpr double kStallSeconds = 4.0;

// Seconds since boot: the level throttle's clock.
double uptimeSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string errorText(QAudio::Error error) {
    switch (error) {
        case QAudio::NoError: return "no error";
        case QAudio::OpenError: return "the audio input could not be opened";
        case QAudio::IOError: return "audio input/output error";
        case QAudio::UnderrunError: return "audio underrun";
        case QAudio::FatalError: return "the audio system failed";
    }
    return "unknown audio error";
}

}  // namespace

AudioCapture::AudioCapture(CaptureConverter& converter, RingBuffer& ring) : converter_(converter), ring_(ring) {}

AudioCapture::~AudioCapture() = default;

QAudioFormat AudioCapture::chooseFormat(const QAudioDevice& device) {
    QAudioFormat format = device.preferredFormat();
    QAudioFormat asFloat = format;
    asFloat.setSampleFormat(QAudioFormat::Float);
    if (asFloat.isValid() && device.isFormatSupported(asFloat)) return asFloat;
    return format;
}

std::string AudioCapture::open(const QAudioDevice& device, const QAudioFormat& format) {
    format_ = format;
    frameBytes_ = AudioPcm::bytesPerSample(format.sampleFormat()) * static_cast<size_t>(format.channelCount());
    if (frameBytes_ == 0) return "unsupported sample format (" + AudioPcm::describe(format) + ")";

    source_ = std::make_unique<QAudioSource>(device, format);
    source_->setBufferSize(format.bytesForDuration(kFragmentMicroseconds));
    connect(source_.get(), &QAudioSource::stateChanged, this, [this](QAudio::State s) { handleState(s); });
    io_ = source_->start();
    if (!io_ || source_->error() != QAudio::NoError) {
        const std::string reason = errorText(source_->error());
        source_->disconnect(this);
        source_->stop();
        source_.reset();
        io_ = nullptr;
        return reason;
    }
    connect(io_, &QIODevice::readyRead, this, [this] { readAvailable(); });
    lastDataAt_ = uptimeSeconds();
    auto* watchdog = new QTimer(this);
    connect(watchdog, &QTimer::timeout, this, [this] { checkStall(); });
    watchdog->start(500);
    return {};
}

void AudioCapture::close() {
    if (!source_) return;
    closing_ = true;
    readAvailable();  // what the audio system already delivered belongs to the recording
    source_->disconnect(this);
    if (io_) io_->disconnect(this);
    source_->stop();
    source_.reset();
    pending_.clear();
}

void AudioCapture::readAvailable() {
    if (!source_ || !io_) return;
    if (streamBroken()) {
        // The stream died under us (the reading side can notice first): its device is gone.
        streamLost(brokenReason());
        return;
    }
    const qint64 available = source_->bytesAvailable();
    if (available <= 0) return;  // empty deliveries happen
    const qint64 had = pending_.size();
    pending_.resize(had + available);
    const qint64 got = io_->read(pending_.data() + had, available);
    pending_.resize(had + std::max<qint64>(got, 0));
    if (got > 0) lastDataAt_ = uptimeSeconds();
    convertPending();
    if (streamBroken()) streamLost(brokenReason());
}

bool AudioCapture::streamBroken() const {
    // A broken stream reports itself either by stopping or, when a read fails first, by an
    // error with another state; neither recovers without a new stream.
    const QAudio::Error error = source_->error();
    return source_->state() == QAudio::StoppedState || error == QAudio::IOError || error == QAudio::FatalError;
}

void AudioCapture::convertPending() {
    const size_t frames = static_cast<size_t>(pending_.size()) / frameBytes_;
    if (frames == 0) return;
    const size_t channels = static_cast<size_t>(format_.channelCount());
    AudioPcm::toFloat(pending_.constData(), frames, channels, format_.sampleFormat(), floats_);
    pending_.remove(0, static_cast<qsizetype>(frames * frameBytes_));

    const auto buffer = CaptureBuffer::interleaved(floats_.data(), channels, frames, format_.sampleRate());
    auto report = converter_.handleBuffer(buffer, ring_, uptimeSeconds());
    if (report && onReport) onReport(std::move(*report));
}

std::string AudioCapture::brokenReason() const {
    const QAudio::Error error = source_->error();
    return errorText(error == QAudio::NoError ? QAudio::IOError : error);
}

void AudioCapture::handleState(QAudio::State) {
    if (source_ && io_ && streamBroken()) streamLost(brokenReason());
}

void AudioCapture::checkStall() {
    if (!source_ || !io_ || closing_) return;
    readAvailable();  // data may be waiting without a notification
    if (io_ && uptimeSeconds() - lastDataAt_ > kStallSeconds) streamLost("no audio from the input for 4 s");
}

void AudioCapture::streamLost(const std::string& reason) {
    if (!io_ || !source_) return;
    // The source may have dropped its reading device: it must not be touched again.
    io_ = nullptr;
    if (closing_) return;
    // We did not ask for this stop: the server went away or the device vanished.
    if (onInterrupted) onInterrupted(reason);
}

}  // namespace quorvel
