#pragma once
// A microphone stand-in for the dictation pipeline: each recording captures the samples
// scripted beforehand.

#include <utility>
#include <vector>

#include "app/SampleRecorder.h"

namespace quorvel::testing {

class ScriptedRecorder final : public SampleRecorder {
public:
    bool startWorks = true;
    std::vector<float> next;  // what the running recording will have captured
    int starts = 0;
    bool start() override { return ++starts, startWorks; }
    std::vector<float> stop() override { return std::exchange(next, {}); }
};

}  // namespace quorvel::testing
