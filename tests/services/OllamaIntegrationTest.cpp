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

// What one completion saw.
struct Outcome {
    int calls = 0;
    bool returned = false;          // the request function has returned
    bool calledBeforeReturn = false;
    bool onMainThread = true;
    std::optional<std::string> result;
};

HttpResponse answerWith(std::string body, int status = 200) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

std::string responseJson(const std::string& text) {
    return json::dump(json::Json{{"model", "m"}, {"response", text}, {"done", true}}).value();
}

class OllamaIntegrationTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_TRUE(server_.isListening());
        useLog("ollama.log");
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

    void useLog(const std::string& name) {
        logFile_ = home() / name;
        Log::setFile(logFile_);
    }

    // The log's messages without their time stamps.
    std::vector<std::string> logLines() {
        Log::flush();
        std::vector<std::string> lines;
        if (!std::filesystem::exists(logFile_)) return lines;
        std::istringstream in(readFile(logFile_));
        for (std::string line; std::getline(in, line);) lines.push_back(line.size() > 24 ? line.substr(24) : line);
        return lines;
    }

    std::shared_ptr<Outcome> track() {
        auto outcome = std::make_shared<Outcome>();
        outcomes_.push_back(outcome);
        return outcome;
    }

    static auto recorder(const std::shared_ptr<Outcome>& outcome) {
        return [outcome](std::optional<std::string> result) {
            ++outcome->calls;
            outcome->calledBeforeReturn = !outcome->returned;
            outcome->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            outcome->result = std::move(result);
        };
    }

    std::shared_ptr<Outcome> punctuate(const std::string& text, std::chrono::milliseconds timeout = 5s) {
        auto outcome = track();
        OllamaPunctuate::run(text, cfg_, recorder(outcome), timeout);
        outcome->returned = true;
        return outcome;
    }

    std::shared_ptr<Outcome> translate(const std::string& text, const std::string& target,
                                       std::chrono::milliseconds timeout = 5s) {
        auto outcome = track();
        OllamaTranslate::translate(text, target, cfg_, recorder(outcome), timeout);
        outcome->returned = true;
        return outcome;
    }

    static bool finished(const std::shared_ptr<Outcome>& outcome) {
        return QTest::qWaitFor([&] { return outcome->calls > 0; }, 10000);
    }

    static json::Json bodyOf(const testing::HttpRequest& request) {
        const auto body = json::parse(request.body);
        return body ? *body : json::Json();
    }

    LoopbackHttpServer server_;
    AppConfig cfg_;
    std::filesystem::path logFile_;
    std::vector<std::shared_ptr<Outcome>> outcomes_;
};

TEST_F(OllamaIntegrationTest, PunctuationSendsTheExactRequestAndGivesTheTrimmedAnswerOnTheMainThread) {
    server_.serve("/api/generate", answerWith(responseJson("\n  Привет, мир.  \r\n")));
    const auto outcome = punctuate("привет мир");
    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->result, "Привет, мир.");
    EXPECT_FALSE(outcome->calledBeforeReturn);
    EXPECT_TRUE(outcome->onMainThread);

    ASSERT_EQ(server_.requests().size(), 1u);
    const auto& request = server_.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/generate");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.header("cookie"), "");
    const json::Json body = bodyOf(request);
    ASSERT_TRUE(body.is_object()) << request.body;
    EXPECT_EQ(body.size(), 5u) << request.body;
    EXPECT_EQ(body.value("model", ""), "punct-model:1b");
    EXPECT_EQ(body.value("prompt", ""), kPunctPrompt + "привет мир");
    EXPECT_EQ(body["stream"], json::Json(false));
    EXPECT_EQ(body["think"], json::Json(false));
    ASSERT_TRUE(body["options"].is_object());
    EXPECT_EQ(body["options"].size(), 2u);
    EXPECT_TRUE(body["options"]["temperature"].is_number_float());
    EXPECT_EQ(body["options"]["temperature"].get<double>(), 0.0);
    EXPECT_TRUE(body["options"]["num_predict"].is_number_float());
    EXPECT_EQ(body["options"]["num_predict"].get<double>(), 512.0);

    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("INFO: punctuate: \\d+ ms, in 10 → out 12 chars"))) << lines[0];
}

TEST_F(OllamaIntegrationTest, PunctuationUsesTheGeneralModelWhenNoPunctuationModelIsSet) {
    cfg_.punctModelID.clear();
    server_.serve("/api/generate", answerWith(responseJson("Привет, мир.")));
    ASSERT_TRUE(finished(punctuate("привет мир")));
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(bodyOf(server_.requests()[0]).value("model", ""), "general-model:7b");
}

TEST_F(OllamaIntegrationTest, UnusableAnswersGiveNothingAndPunctuationLogsTheFailure) {
    const std::vector<std::pair<std::string, HttpResponse>> cases = {
        {"error member, unknown model", answerWith(R"({"error":"model 'x' not found"})", 404)},
        {"not JSON", answerWith("<html>busy</html>", 200)},
        {"truncated JSON", answerWith(R"({"response":"При)")},
        {"JSON array", answerWith(R"(["response","Привет"])")},
        {"response not a string", answerWith(R"({"response":42})")},
        {"response null", answerWith(R"({"response":null})")},
        {"empty body", answerWith("")},
        [] {
            HttpResponse cut = answerWith(responseJson("Привет, мир."));
            cut.cutAfter = 8;
            return std::pair<std::string, HttpResponse>{"connection cut mid-answer", cut};
        }(),
    };
    for (const auto& [name, response] : cases) {
        SCOPED_TRACE(name);
        server_.serve("/api/generate", response);
        useLog("punct-" + std::to_string(&name - &cases[0].first) + ".log");
        const auto punct = punctuate("привет мир");
        const auto translation = translate("привет мир", "en");
        ASSERT_TRUE(finished(punct));
        ASSERT_TRUE(finished(translation));
        EXPECT_EQ(punct->result, std::nullopt);
        EXPECT_EQ(translation->result, std::nullopt);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 1u) << "one failure line for punctuation, none for translation";
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("WARN: punctuate: сбой \\(\\d+ ms\\)"))) << lines[0];
    }
}

TEST_F(OllamaIntegrationTest, PunctuationThatRewritesTheTextIsRejectedAfterTheTimingLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"**Привет, мир.**", "16"},
        {"```Привет, мир.```", "18"},
        {"Hello, world.", "13"},
        {"Привет, дорогой и любимый мир.", "30"},
    };
    for (const auto& [answer, outCount] : cases) {
        SCOPED_TRACE(answer);
        useLog("insane-" + outCount + ".log");
        server_.serve("/api/generate", answerWith(responseJson(answer)));
        const auto outcome = punctuate("привет мир");
        ASSERT_TRUE(finished(outcome));
        EXPECT_EQ(outcome->result, std::nullopt);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("INFO: punctuate: \\d+ ms, in 10 → out " + outCount + " chars")))
            << lines[0];
    }
}

TEST_F(OllamaIntegrationTest, TheHttpStatusIsNotJudgedOnlyTheAnswer) {
    server_.serve("/api/generate", answerWith(responseJson("Hello"), 500));
    const auto outcome = translate("привет", "en");
    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->result, "Hello");
}

TEST_F(OllamaIntegrationTest, ASlowOrTricklingServerRunsIntoTheTimeOut) {
    HttpResponse slow = answerWith(responseJson("Привет, мир."));
    slow.delay = 5s;
    HttpResponse trickle = answerWith(responseJson("Привет, мир.") + std::string(60, ' '));
    trickle.chunkSize = 1;
    trickle.chunkInterval = 100ms;  // about ten seconds for the whole answer
    for (const auto& [name, response] : {std::pair{"slow", slow}, std::pair{"trickle", trickle}}) {
        SCOPED_TRACE(name);
        useLog(std::string(name) + ".log");
        server_.serve("/api/generate", response);
        const auto punct = punctuate("привет мир", 300ms);
        const auto translation = translate("привет", "en", 300ms);
        ASSERT_TRUE(finished(punct));
        ASSERT_TRUE(finished(translation));
        EXPECT_EQ(punct->result, std::nullopt);
        EXPECT_EQ(translation->result, std::nullopt);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 1u);
        std::smatch ms;
        ASSERT_TRUE(std::regex_match(lines[0], ms, std::regex("WARN: punctuate: сбой \\((\\d+) ms\\)"))) << lines[0];
        EXPECT_GE(std::stoi(ms[1]), 300);
        EXPECT_LT(std::stoi(ms[1]), 4000) << "the time-out, not the server, ended the request";
    }
}

TEST_F(OllamaIntegrationTest, ARefusedConnectionIsAFailure) {
    auto gone = std::make_unique<LoopbackHttpServer>();
    cfg_.ollamaURL = gone->url("/api/generate");
    gone.reset();
    const auto outcome = punctuate("привет мир");
    ASSERT_TRUE(finished(outcome));
    EXPECT_EQ(outcome->result, std::nullopt);
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("WARN: punctuate: сбой \\(\\d+ ms\\)"))) << lines[0];
}

TEST_F(OllamaIntegrationTest, AnUnusableUrlFailsAtOnceAndSendsNothing) {
    server_.serve("/api/generate", answerWith(responseJson("Привет, мир.")));
    const std::string port = std::to_string(server_.port());
    const std::vector<std::string> urls = {
        "",
        "not a url",
        "http://",
        "127.0.0.1:" + port + "/api/generate",
        "ftp://127.0.0.1:" + port + "/api/generate",
        "http://127.0.0.1:" + port + "/api gen<erate>",
        "http://[::1/api/generate",
    };
    for (const auto& url : urls) {
        SCOPED_TRACE(url);
        cfg_.ollamaURL = url;
        const auto punct = punctuate("привет мир");
        const auto translation = translate("привет", "en");
        for (const auto& outcome : {punct, translation}) {
            EXPECT_EQ(outcome->calls, 1);
            EXPECT_TRUE(outcome->calledBeforeReturn);
            EXPECT_EQ(outcome->result, std::nullopt);
        }
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_TRUE(logLines().empty());
}

TEST_F(OllamaIntegrationTest, TranslationNamesTheTargetInThePrompt) {
    server_.serve("/api/generate", answerWith(responseJson("x")));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"en", "английский"}, {"ru", "русский"}, {"de", "de"}, {"EN", "EN"}};
    for (const auto& [target, word] : cases) {
        SCOPED_TRACE(target);
        const size_t before = server_.requests().size();
        ASSERT_TRUE(finished(translate("добрый день", target)));
        ASSERT_EQ(server_.requests().size(), before + 1);
        const json::Json body = bodyOf(server_.requests().back());
        std::string expected = kTranslatePrompt;
        expected.replace(expected.find("%s"), 2, word);
        EXPECT_EQ(body.value("prompt", ""), expected + "добрый день");
        EXPECT_EQ(body.value("model", ""), "general-model:7b");
        EXPECT_EQ(body.size(), 5u);
        EXPECT_EQ(body["stream"], json::Json(false));
        EXPECT_EQ(body["think"], json::Json(false));
        EXPECT_EQ(body["options"], json::parse(R"({"temperature":0.0,"num_predict":512.0})").value());
    }
    EXPECT_TRUE(logLines().empty()) << "translation logs nothing";
}

TEST_F(OllamaIntegrationTest, TranslationStripsWhiteSpaceAndQuotesButKeepsGuillemets) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"  «Hello»  \n", "«Hello»"},
        {"\"Hello\"", "Hello"},
        {"'Hello'", "Hello"},
        {"\n\"'Good morning'\"\n", "Good morning"},
        {"\" Hello \"", " Hello "},
        {"don't", "don't"},
        {"Ёлка", "Ёлка"},
        {"  \"\" ' \n", std::nullopt},
        {"\"'\"", std::nullopt},
        {"\"   \"", std::nullopt},
        {" \n ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [answer, expected] : cases) {
        SCOPED_TRACE(answer);
        server_.serve("/api/generate", answerWith(responseJson(answer)));
        const auto outcome = translate("текст", "en");
        ASSERT_TRUE(finished(outcome));
        EXPECT_EQ(outcome->result, expected);
        EXPECT_TRUE(outcome->onMainThread);
        EXPECT_FALSE(outcome->calledBeforeReturn);
    }
}

TEST_F(OllamaIntegrationTest, RequestsInFlightAreIndependent) {
    HttpResponse slow = answerWith(responseJson("Привет, мир."));
    slow.delay = 400ms;
    server_.serve("/slow", slow);
    server_.serve("/fast", answerWith(responseJson("Hello")));
    cfg_.ollamaURL = server_.url("/slow");
    const auto punct = punctuate("привет мир");
    cfg_.ollamaURL = server_.url("/fast");
    const auto translation = translate("привет", "en");
    ASSERT_TRUE(finished(translation));
    EXPECT_EQ(punct->calls, 0) << "the fast answer does not wait for the slow one";
    ASSERT_TRUE(finished(punct));
    EXPECT_EQ(punct->result, "Привет, мир.");
    EXPECT_EQ(translation->result, "Hello");
}

TEST_F(OllamaIntegrationTest, ARequestFromAnotherThreadCompletesOnTheMainThread) {
    server_.serve("/api/generate", answerWith(responseJson("Hello")));
    auto outcome = track();
    std::thread caller([&] {
        OllamaTranslate::translate("привет", "en", cfg_, recorder(outcome), 5s);
        outcome->returned = true;
    });
    caller.join();
    ASSERT_TRUE(finished(outcome));
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(outcome->result, "Hello");
}

}  // namespace
}  // namespace quorvel
