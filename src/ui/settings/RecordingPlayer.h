#pragma once
// Plays one saved recording (a 16-bit WAV) through the default audio output, with pause and the
// position. The file is decoded only when playback starts; before that a glance at its header
// tells whether it can play at all.

#include <QObject>
#include <filesystem>
#include <memory>

class QAudioSink;
class QBuffer;
class QTimer;

namespace quorvel {

class RecordingPlayer : public QObject {
    Q_OBJECT
public:
    explicit RecordingPlayer(std::filesystem::path file, QObject* parent = nullptr);
    ~RecordingPlayer() override;

    // The file exists and starts like a WAV we can decode. Reads only its beginning.
    static bool looksPlayable(const std::filesystem::path& file);

    // Starts or resumes, and pauses the recording that played until now: one plays at a time.
    // False when the file does not decode or there is no audio output.
    bool play();
    void pause();
    // Back to the start.
    void stop();
    bool playing() const { return playing_; }
    // Seconds played so far.
    double position() const;

Q_SIGNALS:
    // Playing or paused, and the position, changed (the position while playing, a few times a
    // second).
    void changed();

private:
    bool load();
    void sinkStateChanged();

    std::filesystem::path file_;
    std::unique_ptr<QBuffer> buffer_;
    std::unique_ptr<QAudioSink> sink_;
    QTimer* tick_;
    bool playing_ = false;
};

}  // namespace quorvel
