// The language-model requests against a real HTTP server on the loopback interface: the exact
// bodies sent, the answers accepted and rejected, time-outs, unusable addresses and the log lines.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "core/JsonFields.h"
#include "services/Log.h"
#include "services/OllamaPunctuate.h"
#include "services/OllamaTranslate.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using testing::HttpResponse;
using testing::LoopbackHttpServer;

const std::string kPunctPrompt =
    "Расставь знаки препинания и заглавные буквы в тексте. Не меняй, не добавляй и не удаляй слова. "
    "Верни только результат: ";
const std::string kTranslatePrompt = "Переведи на %s дословно, строго без пояснений и кавычек: ";
const std::string kFailureLine = "WARN: punctuate: сбой \\(\\d+ ms\\)";

// What one completion saw.
struct Outcome {
    int calls = 0;
    bool returned = false;  // the request function has returned
    bool calledBeforeReturn = false;
    bool onMainThread = true;
    std::optional<std::string> result;
};

HttpResponse answerWith(std::string body, int status = 200) {
    return {.status = status, .body = std::move(body)};
}

std::string responseJson(const std::string& text) {
    return json::dump(json::Json{{"model", "m"}, {"response", text}, {"done", true}}).value();
}

// The request body both requests send: model, prompt, no streaming, no thinking, float options.
void expectRequestBody(const testing::HttpRequest& request, const std::string& model, const std::string& prompt) {
    const auto body = nlohmann::json::parse(request.body, nullptr, false);  // members in any order
    EXPECT_EQ(body, (nlohmann::json{{"model", model}, {"prompt", prompt}, {"stream", false}, {"think", false},
                                    {"options", {{"temperature", 0.0}, {"num_predict", 512.0}}}}));
    const auto options = body.value("options", nlohmann::json::object());
    for (const auto& [key, value] : options.items()) EXPECT_TRUE(value.is_number_float()) << key << " in " << request.body;
}

class OllamaIntegrationTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_TRUE(server_.isListening());
        Log::setFile(home() / "ollama.log");
        cfg_.ollamaURL = server_.url("/api/generate");
        cfg_.ollamaModel = "general-model:7b";
        cfg_.punctModelID = "punct-model:1b";
    }

    void TearDown() override {
        // A late second call would show up here: let every pending event run first.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        for (const auto& outcome : outcomes_) EXPECT_LE(outcome->calls, 1) << "a completion ran more than once";
        TempHome::TearDown();
    }

    // The log's messages since the last look, without their time stamps.
    std::vector<std::string> takeLog() {
        Log::flush();
        std::vector<std::string> lines;
        std::istringstream in(readFile(home() / "ollama.log"));
        for (std::string line; std::getline(in, line);) lines.push_back(line.size() > 24 ? line.substr(24) : line);
        std::filesystem::remove(home() / "ollama.log");
        return lines;
    }

    // The log holds exactly one line, of this shape.
    void onlyLogLine(const std::string& pattern) {
        const auto lines = takeLog();
        EXPECT_TRUE(lines.size() == 1 && std::regex_match(lines[0], std::regex(pattern)))
            << ::testing::PrintToString(lines) << " is not one line matching " << pattern;
    }

    // Runs `request` with a completion that records what it saw.
    template <typename Request>
    std::shared_ptr<Outcome> ask(Request request) {
        auto outcome = outcomes_.emplace_back(std::make_shared<Outcome>());
        request([outcome](std::optional<std::string> result) {
            ++outcome->calls;
            outcome->calledBeforeReturn = !outcome->returned;
            outcome->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            outcome->result = std::move(result);
        });
        outcome->returned = true;
        return outcome;
    }

    std::shared_ptr<Outcome> punctuate(const std::string& text, std::chrono::milliseconds timeout = 5s) {
        return ask([&](auto done) { OllamaPunctuate::run(text, cfg_, done, timeout); });
    }

    std::shared_ptr<Outcome> translate(const std::string& text, const std::string& target,
                                       std::chrono::milliseconds timeout = 5s) {
        return ask([&](auto done) { OllamaTranslate::translate(text, target, cfg_, done, timeout); });
    }

    static bool finished(const std::shared_ptr<Outcome>& outcome) {
        return QTest::qWaitFor([&] { return outcome->calls > 0; }, 10000);
    }
    // The result once the completion ran; a wait that runs out fails the test.
    static std::optional<std::string> resultOf(const std::shared_ptr<Outcome>& outcome) {
        EXPECT_TRUE(finished(outcome)) << "no completion";
        return outcome->result;
    }

    // Both requests give nothing; only punctuation logs its failure.
    void expectBothFail(std::chrono::milliseconds timeout = 5s) {
        const auto punct = punctuate("привет мир", timeout);
        const auto translation = translate("привет мир", "en", timeout);
        EXPECT_EQ(resultOf(punct), std::nullopt);
        EXPECT_EQ(resultOf(translation), std::nullopt);
        onlyLogLine(kFailureLine);
    }

    LoopbackHttpServer server_;
    AppConfig cfg_;
    std::vector<std::shared_ptr<Outcome>> outcomes_;
};

TEST_F(OllamaIntegrationTest, PunctuationSendsTheExactRequestGivesTheTrimmedAnswerOnTheMainThreadAndRejectsRewrites) {
    server_.serve("/api/generate", answerWith(responseJson("\n  Привет, мир.  \r\n")));
    const auto outcome = punctuate("привет мир");
    EXPECT_EQ(resultOf(outcome), "Привет, мир.");
    EXPECT_FALSE(outcome->calledBeforeReturn);
    EXPECT_TRUE(outcome->onMainThread);

    ASSERT_EQ(server_.requests().size(), 1u);
    const auto& request = server_.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/generate");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.header("cookie"), "");
    expectRequestBody(request, "punct-model:1b", kPunctPrompt + "привет мир");
    onlyLogLine("INFO: punctuate: \\d+ ms, in 10 → out 12 chars");

    // Without a punctuation model the general one is asked.
    cfg_.punctModelID.clear();
    ASSERT_TRUE(finished(punctuate("привет мир")));
    ASSERT_EQ(server_.requests().size(), 2u);
    expectRequestBody(server_.requests()[1], "general-model:7b", kPunctPrompt + "привет мир");

    // An answer that rewrites the text is rejected after the timing line (the rules themselves
    // are the text-processing tests' business; this is the wiring).
    takeLog();
    server_.serve("/api/generate", answerWith(responseJson("**Привет, мир.**")));
    EXPECT_EQ(resultOf(punctuate("привет мир")), std::nullopt);
    onlyLogLine("INFO: punctuate: \\d+ ms, in 10 → out 16 chars");
}

TEST_F(OllamaIntegrationTest, UnusableAnswersSlowServersOrARefusedConnectionGiveNothingAndPunctuationLogsTheFailure) {
    const std::string answer = responseJson("Привет, мир.");
    const std::vector<std::pair<std::string, HttpResponse>> cases = {
        {"error member, unknown model", answerWith(R"({"error":"model 'x' not found"})", 404)},
        {"not JSON", answerWith("<html>busy</html>", 200)},
        {"JSON array", answerWith(R"(["response","Привет"])")},
        {"response not a string", answerWith(R"({"response":42})")},
        {"empty body", answerWith("")},
        {"connection cut mid-answer", {.body = answer, .cutAfter = 8}},
        {"slow", {.body = answer, .delay = 5s}},
        // About ten seconds for the whole answer.
        {"trickle",
         {.body = answer + std::string(60, ' '), .chunkSize = 1, .chunkInterval = 100ms}},
    };
    for (const auto& [name, response] : cases) {
        SCOPED_TRACE(name);
        server_.serve("/api/generate", response);
        // A slow server runs into a short time-out: the time-out, not the server, ends the request
        // (without it the slow answer would be taken and the trickle outlast the wait).
        expectBothFail(response.delay.count() > 0 || response.chunkSize > 0 ? 300ms : 5s);
    }
    auto gone = std::make_unique<LoopbackHttpServer>();
    cfg_.ollamaURL = gone->url("/api/generate");
    gone.reset();
    SCOPED_TRACE("connection refused");
    expectBothFail();
}

TEST_F(OllamaIntegrationTest, AnUnusableUrlFailsAtOnceAndSendsNothing) {
    server_.serve("/api/generate", answerWith(responseJson("Привет, мир.")));
    const std::string port = std::to_string(server_.port());
    for (const std::string& url : {std::string(), std::string("not a url"), std::string("http://"),
                                   "127.0.0.1:" + port + "/api/generate", "ftp://127.0.0.1:" + port + "/api/generate",
                                   "http://127.0.0.1:" + port + "/api gen<erate>", std::string("http://[::1/api/generate")}) {
        SCOPED_TRACE(url);
        cfg_.ollamaURL = url;
        for (const auto& outcome : {punctuate("привет мир"), translate("привет", "en")}) {
            EXPECT_EQ(outcome->calls, 1);
            EXPECT_TRUE(outcome->calledBeforeReturn);
            EXPECT_EQ(outcome->result, std::nullopt);
        }
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(OllamaIntegrationTest, TranslationNamesTheTargetIgnoresTheHttpStatusAndStripsQuotesButNotGuillemets) {
    server_.serve("/api/generate", answerWith(responseJson("x"), 500));  // only the answer is judged
    for (const auto& [target, word] : std::vector<std::pair<std::string, std::string>>{
             {"en", "английский"}, {"ru", "русский"}, {"de", "de"}, {"EN", "EN"}}) {
        SCOPED_TRACE(target);
        const size_t before = server_.requests().size();
        EXPECT_EQ(resultOf(translate("добрый день", target)), "x");
        ASSERT_EQ(server_.requests().size(), before + 1);
        std::string prompt = kTranslatePrompt;
        prompt.replace(prompt.find("%s"), 2, word);
        expectRequestBody(server_.requests().back(), "general-model:7b", prompt + "добрый день");
    }
    EXPECT_TRUE(takeLog().empty()) << "translation logs nothing";

    // White space and quotes are stripped, guillemets kept; nothing left is no translation.
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"  «Hello»  \n", "«Hello»"}, {"\"Hello\"", "Hello"}, {"'Hello'", "Hello"},
        {"\n\"'Good morning'\"\n", "Good morning"}, {"\" Hello \"", " Hello "}, {"don't", "don't"},
        {"Ёлка", "Ёлка"}, {"  \"\" ' \n", std::nullopt}, {"\"'\"", std::nullopt},
        {"\"   \"", std::nullopt}, {" \n ", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [answer, expected] : cases) {
        SCOPED_TRACE(answer);
        server_.serve("/api/generate", answerWith(responseJson(answer)));
        EXPECT_EQ(resultOf(translate("текст", "en")), expected);
    }
}

TEST_F(OllamaIntegrationTest, RequestsInFlightAreIndependentAndCompleteOnTheMainThread) {
    server_.serve("/slow", HttpResponse{.body = responseJson("Привет, мир."), .delay = 400ms});
    server_.serve("/fast", answerWith(responseJson("Hello")));
    cfg_.ollamaURL = server_.url("/slow");
    const auto punct = punctuate("привет мир");
    cfg_.ollamaURL = server_.url("/fast");
    std::shared_ptr<Outcome> translation;
    std::thread([&] { translation = translate("привет", "en"); }).join();
    ASSERT_TRUE(finished(translation));
    EXPECT_EQ(punct->calls, 0) << "the fast answer does not wait for the slow one";
    EXPECT_TRUE(translation->onMainThread) << "a request from another thread completes on the main thread";
    EXPECT_FALSE(translation->calledBeforeReturn);
    EXPECT_EQ(resultOf(punct), "Привет, мир.");
    EXPECT_EQ(translation->result, "Hello");
}

}  // namespace
}  // namespace quorvel
