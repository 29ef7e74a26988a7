#pragma once
// Raw PCM frames as the audio system delivers them, turned into interleaved floats for the
// capture converter. Sound servers hand out whatever the source's own format is when float is
// not on offer, so the integer layouts are converted here.

#include <QAudioFormat>
#include <cstddef>
#include <string>
#include <vector>

namespace quorvel::AudioPcm {

// Bytes of one sample in `format`, 0 for a format we cannot read.
size_t bytesPerSample(QAudioFormat::SampleFormat format);

// Converts `frames` interleaved frames of `channels` samples each (native byte order) to floats
// in -1..1, replacing `out`. False, with `out` empty, for an unknown sample format.
bool toFloat(const char* bytes, size_t frames, size_t channels, QAudioFormat::SampleFormat format,
             std::vector<float>& out);

// "48000 Hz, 2 ch, Float": for log lines.
std::string describe(const QAudioFormat& format);

}  // namespace quorvel::AudioPcm
