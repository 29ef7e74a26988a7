#include "ui/settings/RecordingPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>

#include "core/WavDecoder.h"

namespace quorvel {
namespace {

constexpr int kRate = 16'000;  // what decodeWav gives
// Longer than any recording the program makes; a bigger file is not read into memory.
constexpr std::streamsize kMaxFileBytes = std::streamsize{256} << 20;
// No more samples than the largest file read holds at our own rate.
constexpr std::size_t kMaxSamples = static_cast<std::size_t>(kMaxFileBytes) / 2;
// The header and the first samples: enough to tell a usable WAV.
constexpr std::streamsize kHeaderBytes = 16 << 10;

std::string readStart(const std::filesystem::path& file, std::streamsize limit) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string bytes(static_cast<std::size_t>(limit), '\0');
    in.read(bytes.data(), limit);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// The player that started last; main thread only.
RecordingPlayer* current = nullptr;

QByteArray toInt16(const std::vector<float>& samples) {
    QByteArray bytes(static_cast<qsizetype>(samples.size() * sizeof(int16_t)), Qt::Uninitialized);
    auto* out = reinterpret_cast<int16_t*>(bytes.data());
    for (float s : samples) *out++ = static_cast<int16_t>(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
    return bytes;
}

}  // namespace

RecordingPlayer::RecordingPlayer(std::filesystem::path file, QObject* parent)
    : QObject(parent), file_(std::move(file)), tick_(new QTimer(this)) {
    tick_->setInterval(200);
    connect(tick_, &QTimer::timeout, this, &RecordingPlayer::changed);
}

RecordingPlayer::~RecordingPlayer() {
    if (current == this) current = nullptr;
    if (sink_) sink_->stop();
}

bool RecordingPlayer::looksPlayable(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return false;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > static_cast<std::uintmax_t>(kMaxFileBytes)) return false;
    // Judged by the header, before anything is decoded: a low sample rate would make a small
    // file decode to gigabytes, on the main thread.
    const auto length = decodedWavLength(readStart(file, kHeaderBytes), size);
    return length && *length <= kMaxSamples;
}

bool RecordingPlayer::load() {
    if (sink_) return true;
    QAudioFormat format;
    format.setSampleRate(kRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull() || !output.isFormatSupported(format)) return false;
    if (!looksPlayable(file_)) return false;  // it may have changed since the card was made
    const auto samples = decodeWav(readStart(file_, kMaxFileBytes));
    if (!samples) return false;

    buffer_ = std::make_unique<QBuffer>();
    buffer_->setData(toInt16(*samples));
    buffer_->open(QIODevice::ReadOnly);
    sink_ = std::make_unique<QAudioSink>(output, format);
    connect(sink_.get(), &QAudioSink::stateChanged, this, &RecordingPlayer::sinkStateChanged);
    return true;
}

bool RecordingPlayer::play() {
    if (playing_) return true;
    if (!load()) return false;
    if (sink_->state() == QAudio::SuspendedState) {
        sink_->resume();
    } else {
        buffer_->seek(0);
        sink_->start(buffer_.get());
        if (sink_->error() != QAudio::NoError) return false;
    }
    playing_ = true;
    if (current && current != this) current->pause();
    current = this;
    tick_->start();
    Q_EMIT changed();
    return true;
}

void RecordingPlayer::pause() {
    if (!playing_) return;
    sink_->suspend();
    playing_ = false;
    tick_->stop();
    Q_EMIT changed();
}

void RecordingPlayer::stop() {
    if (!sink_) return;
    const bool wasPlaying = playing_;
    playing_ = false;
    tick_->stop();
    sink_->stop();
    if (wasPlaying) Q_EMIT changed();
}

double RecordingPlayer::position() const {
    if (!sink_ || sink_->state() == QAudio::StoppedState) return 0;
    return static_cast<double>(sink_->processedUSecs()) / 1e6;
}

// The whole buffer played (idle) or the output went away (stopped with an error).
void RecordingPlayer::sinkStateChanged() {
    const QAudio::State state = sink_->state();
    if (playing_ && (state == QAudio::IdleState || state == QAudio::StoppedState)) stop();
}

}  // namespace quorvel
