#pragma once
// The overlay's live waveform: the newest 32 000 samples as vertical strokes, red while
// recording; a flat bar before any sound; a dashed orange line when the microphone delivers
// nothing at all.

#include <QWidget>
#include <span>
#include <vector>

namespace quorvel {

class WaveView : public QWidget {
    Q_OBJECT
public:
    explicit WaveView(QWidget* parent);

    void appendSamples(std::span<const float> samples);
    void clearSamples();
    const std::vector<float>& samples() const { return samples_; }

    bool isRecording() const { return recording_; }
    void setRecording(bool recording);
    bool noSignal() const { return noSignal_; }
    void setNoSignal(bool noSignal);
    // The colour of the idle stroke (the look's secondary text colour).
    void setIdleColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> samples_;
    bool recording_ = false;
    bool noSignal_ = false;
    QColor idleColor_{Qt::gray};
};

}  // namespace quorvel
