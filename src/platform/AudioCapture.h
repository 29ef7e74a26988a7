#pragma once
// The capture side of the recorder: owns one QAudioSource and lives on the recorder's capture
// thread. Each delivery from the audio system is converted to floats, handed to the capture
// converter (16 kHz mono into the ring, level throttle) and due level reports go to `onReport`.
// Both callbacks run on the capture thread; the recorder hops them to the main thread.

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CaptureConverter.h"
#include "core/RingBuffer.h"

class QAudioSource;
class QIODevice;

namespace quorvel {

class AudioCapture : public QObject {
    Q_OBJECT
public:
    std::function<void(CaptureConverter::LevelReport)> onReport;
    // The audio system ended the stream by itself (server gone, device lost).
    std::function<void(std::string reason)> onInterrupted;

    // `converter` and `ring` outlive the capture and are used only on the capture thread while
    // it runs.
    AudioCapture(CaptureConverter& converter, RingBuffer& ring);
    ~AudioCapture() override;

    // Capture thread. Starts capturing `device` in `format`; an empty string on success, else
    // what went wrong.
    std::string open(const QAudioDevice& device, const QAudioFormat& format);
    // Capture thread. Takes what is still buffered, then stops and drops the source.
    void close();

    // The capture format: float when the device offers it, else the device's own layout.
    static QAudioFormat chooseFormat(const QAudioDevice& device);

private:
    void readAvailable();
    void handleState(QAudio::State state);
    bool streamBroken() const;
    std::string brokenReason() const;
    void checkStall();
    void streamLost(const std::string& reason);
    void convertPending();

    CaptureConverter& converter_;
    RingBuffer& ring_;
    std::unique_ptr<QAudioSource> source_;
    QIODevice* io_ = nullptr;  // owned by source_
    QAudioFormat format_;
    size_t frameBytes_ = 0;
    QByteArray pending_;        // bytes read but not yet converted (a partial frame at most)
    std::vector<float> floats_;  // reused: steady-state deliveries allocate nothing
    bool closing_ = false;
    double lastDataAt_ = 0.0;  // uptime of the last delivery
};

}  // namespace quorvel
