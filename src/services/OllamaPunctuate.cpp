#include "services/OllamaPunctuate.h"

#include "core/TextProcessing.h"
#include "services/Log.h"
#include "services/OllamaClient.h"

namespace quorvel::OllamaPunctuate {

std::string prompt(const std::string& text) {
    return "Расставь знаки препинания и заглавные буквы в тексте. Не меняй, не добавляй и не удаляй "
           "слова. Верни только результат: " +
           text;
}

void run(const std::string& text, const AppConfig& cfg, Completion completion,
         std::chrono::milliseconds timeout) {
    const std::string& model = cfg.punctModelID.empty() ? cfg.ollamaModel : cfg.punctModelID;
    const auto finish = [completion](std::optional<std::string> result) {
        if (completion) completion(std::move(result));
    };
    const bool sent = OllamaClient::generate(
        cfg.ollamaURL, OllamaClient::generateBody(model, prompt(text)), timeout,
        [text, finish](OllamaClient::Answer answer) {
            const std::string ms = std::to_string(answer.elapsedMs);
            if (!answer.response) {
                Log::warn("punctuate: сбой (" + ms + " ms)");
                finish(std::nullopt);
                return;
            }
            std::string punctuated = TextProcessing::trimWhitespace(*answer.response);
            Log::info("punctuate: " + ms + " ms, in " + std::to_string(TextProcessing::characterCount(text)) +
                      " → out " + std::to_string(TextProcessing::characterCount(punctuated)) + " chars");
            finish(TextProcessing::sanePunctuated(punctuated, text));
        });
    if (!sent) finish(std::nullopt);
}

}  // namespace quorvel::OllamaPunctuate
