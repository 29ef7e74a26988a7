#include "app/SampleRecorder.h"

#include "platform/AudioRecorder.h"

namespace quorvel {

bool AudioRecorderSamples::start() {
    return recorder_.start();
}

std::vector<float> AudioRecorderSamples::stop() {
    return recorder_.stop();
}

}  // namespace quorvel
