#include "platform/AudioPcm.h"

#include <cstdint>
#include <cstring>

namespace quorvel::AudioPcm {
namespace {

template <typename Sample, typename Convert>
void convertAll(const char* bytes, size_t count, std::vector<float>& out, Convert convert) {
    out.resize(count);
    for (size_t i = 0; i < count; ++i) {
        Sample s;
        // memcpy: the audio system's buffers carry no alignment promise.
        std::memcpy(&s, bytes + i * sizeof(Sample), sizeof(Sample));
        out[i] = convert(s);
    }
}

const char* sampleFormatName(QAudioFormat::SampleFormat format) {
    switch (format) {
        case QAudioFormat::UInt8: return "UInt8";
        case QAudioFormat::Int16: return "Int16";
        case QAudioFormat::Int32: return "Int32";
        case QAudioFormat::Float: return "Float";
        default: return "Unknown";
    }
}

}  // namespace

size_t bytesPerSample(QAudioFormat::SampleFormat format) {
    switch (format) {
        case QAudioFormat::UInt8: return 1;
        case QAudioFormat::Int16: return 2;
        case QAudioFormat::Int32: return 4;
        case QAudioFormat::Float: return 4;
        default: return 0;
    }
}

bool toFloat(const char* bytes, size_t frames, size_t channels, QAudioFormat::SampleFormat format,
             std::vector<float>& out) {
    const size_t count = frames * channels;
    switch (format) {
        case QAudioFormat::UInt8:
            convertAll<uint8_t>(bytes, count, out,
                                [](uint8_t s) { return (static_cast<float>(s) - 128.0f) / 128.0f; });
            return true;
        case QAudioFormat::Int16:
            convertAll<int16_t>(bytes, count, out, [](int16_t s) { return static_cast<float>(s) / 32768.0f; });
            return true;
        case QAudioFormat::Int32:
            convertAll<int32_t>(bytes, count, out, [](int32_t s) {
                return static_cast<float>(static_cast<double>(s) / 2147483648.0);
            });
            return true;
        case QAudioFormat::Float:
            convertAll<float>(bytes, count, out, [](float s) { return s; });
            return true;
        default:
            out.clear();
            return false;
    }
}

std::string describe(const QAudioFormat& format) {
    return std::to_string(format.sampleRate()) + " Hz, " + std::to_string(format.channelCount()) + " ch, " +
           sampleFormatName(format.sampleFormat());
}

}  // namespace quorvel::AudioPcm
