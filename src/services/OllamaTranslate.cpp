#include "services/OllamaTranslate.h"

#include "core/TextProcessing.h"
#include "services/OllamaClient.h"

namespace quorvel::OllamaTranslate {

std::string targetWord(std::string_view target) {
    if (target == "en") return "английский";
    if (target == "ru") return "русский";
    return std::string(target);
}

std::string prompt(const std::string& text, std::string_view target) {
    return "Переведи на " + targetWord(target) + " дословно, строго без пояснений и кавычек: " + text;
}

std::optional<std::string> cleanAnswer(std::string_view response) {
    const std::string trimmed = TextProcessing::trimWhitespace(response);
    // Both quote characters are ASCII, so cutting bytes never splits a UTF-8 sequence.
    const size_t first = trimmed.find_first_not_of("\"'");
    if (first == std::string::npos) return std::nullopt;
    const size_t last = trimmed.find_last_not_of("\"'");
    std::string unquoted = trimmed.substr(first, last - first + 1);
    // Spaces inside the quotes stay, but an answer of nothing but white space is no translation.
    if (TextProcessing::trimWhitespace(unquoted).empty()) return std::nullopt;
    return unquoted;
}

void translate(const std::string& text, const std::string& target, const AppConfig& cfg, Completion completion,
               std::chrono::milliseconds timeout) {
    const auto finish = [completion](std::optional<std::string> result) {
        if (completion) completion(std::move(result));
    };
    const bool sent = OllamaClient::generate(cfg.ollamaURL, OllamaClient::generateBody(cfg.ollamaModel, prompt(text, target)),
                                             timeout, [finish](OllamaClient::Answer answer) {
                                                 finish(answer.response ? cleanAnswer(*answer.response) : std::nullopt);
                                             });
    if (!sent) finish(std::nullopt);
}

}  // namespace quorvel::OllamaTranslate
