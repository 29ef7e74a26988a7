#pragma once
// `quorvel transcribe [--model ID] [--json] FILE...`: recognises WAV files with the worker and
// the user's vocabulary and prints each text.

#include <functional>
#include <string>
#include <vector>

namespace quorvel::TranscribeCommand {

struct Arguments {
    std::string modelID;  // empty: the model the active mode would use
    bool json = false;
    std::vector<std::string> files;
};

// Parses the words after "transcribe"; false (with a message) on a usage error.
bool parse(const std::vector<std::string>& words, Arguments& out, std::string& error);

// Starts the run on the main thread; `finished` gets the process exit status.
void run(const Arguments& arguments, std::function<void(int)> finished);

}  // namespace quorvel::TranscribeCommand
