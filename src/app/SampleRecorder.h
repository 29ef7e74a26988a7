#pragma once
// What the dictation pipeline needs of a microphone: start a recording, end it and take its
// samples (16 kHz mono floats). The program's AudioRecorder serves through the adapter below;
// tests hand the pipeline scripted samples.

#include <vector>

namespace quorvel {

class AudioRecorder;

class SampleRecorder {
  public:
    virtual ~SampleRecorder() = default;
    // True when capture runs; false (the recorder logs why) when it could not start.
    virtual bool start() = 0;
    // Every sample captured since start(); empty when nothing was running.
    virtual std::vector<float> stop() = 0;
};

class AudioRecorderSamples final : public SampleRecorder {
  public:
    explicit AudioRecorderSamples(AudioRecorder& recorder) : recorder_(recorder) {}
    bool start() override;
    std::vector<float> stop() override;

  private:
    AudioRecorder& recorder_;
};

}  // namespace quorvel
