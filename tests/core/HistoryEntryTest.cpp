#include "core/HistoryEntry.h"

#include <gtest/gtest.h>

#include <regex>

namespace quorvel {
namespace {

const std::string kId = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

json::Json fullObject() {
    return json::Json::parse(
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","ts":"2024-05-01 10:00:00",
        "text":"привет мир","originalText":"привет мир.","elapsedMs":1500,"modeName":"Обычный",
        "translatedTo":"en","audioPath":"/tmp/rec-1.wav","durationMs":1200,"modelName":"gigaam",
        "sourceApp":"Firefox","createdAt":1714557600.5})");
}

TEST(HistoryEntry, DecodesEveryField) {
    const HistoryEntry expected{.id = kId,
                                .ts = "2024-05-01 10:00:00",
                                .text = "привет мир",
                                .originalText = "привет мир.",
                                .elapsedMs = 1500,
                                .modeName = "Обычный",
                                .translatedTo = "en",
                                .audioPath = "/tmp/rec-1.wav",
                                .durationMs = 1200,
                                .modelName = "gigaam",
                                .sourceApp = "Firefox",
                                .createdAt = 1714557600.5};
    EXPECT_EQ(HistoryEntry::fromJson(fullObject()), expected);
}

TEST(HistoryEntry, MissingOrNullKeysTakeDefaults) {
    for (const char* text : {R"({})", R"({"id":null,"ts":null,"text":null,"originalText":null,
            "elapsedMs":null,"modeName":null,"translatedTo":null,"audioPath":null,"durationMs":null,
            "modelName":null,"sourceApp":null,"createdAt":null})"}) {
        SCOPED_TRACE(text);
        const double before = localtime::nowSeconds();
        const HistoryEntry e = HistoryEntry::fromJson(json::Json::parse(text));
        EXPECT_TRUE(
            std::regex_match(e.id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
        EXPECT_EQ(e.ts, "");
        EXPECT_EQ(e.text, "");
        EXPECT_EQ(e.elapsedMs, 0);
        EXPECT_EQ(e.modeName, "");
        EXPECT_FALSE(e.originalText || e.translatedTo || e.audioPath || e.durationMs ||
                     e.modelName || e.sourceApp);
        EXPECT_GE(e.createdAt, before);
        EXPECT_LE(e.createdAt, localtime::nowSeconds());
    }
    // Each decode of a missing id gets its own.
    EXPECT_NE(HistoryEntry::fromJson(json::Json::object()).id,
              HistoryEntry::fromJson(json::Json::object()).id);
}

TEST(HistoryEntry, WrongTypesAndMalformedIdsAreDecodeErrors) {
    const std::vector<std::pair<const char*, json::Json>> cases = {
        {"id", 5},
        {"id", "not-a-uuid"},
        {"id", "3F2504E0-4F89-41D3-9A0C-0305E82C330"},
        {"ts", 1},
        {"text", true},
        {"originalText", json::Json::array()},
        {"elapsedMs", "1"},
        {"elapsedMs", 1.5},
        {"modeName", 0},
        {"translatedTo", 1},
        {"audioPath", false},
        {"durationMs", "12"},
        {"modelName", 2},
        {"sourceApp", json::Json::object()},
        {"createdAt", "yesterday"},
    };
    for (const auto& [key, value] : cases) {
        json::Json object = fullObject();
        object[key] = value;
        EXPECT_THROW(HistoryEntry::fromJson(object), json::DecodeError)
            << key << " = " << value.dump();
    }
    EXPECT_THROW(HistoryEntry::fromJson(json::Json::array()), json::DecodeError);
    EXPECT_THROW(HistoryEntry::fromJson(json::Json("text")), json::DecodeError);
}

TEST(HistoryEntry, AcceptsLowerCaseIdsIntegralFloatsAndUnknownKeys) {
    json::Json object = fullObject();
    object["id"] = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
    object["elapsedMs"] = 1500.0;
    object["createdAt"] = 1714557600;
    object["somethingNew"] = {{"nested", 1}};
    const HistoryEntry e = HistoryEntry::fromJson(object);
    EXPECT_EQ(e.id, kId);
    EXPECT_EQ(e.elapsedMs, 1500);
    EXPECT_DOUBLE_EQ(e.createdAt, 1714557600);
}

TEST(HistoryEntry, EncodesOptionalKeysOnlyWhenPresentAndRoundTrips) {
    const HistoryEntry bare{
        .ts = "t", .text = "a b", .elapsedMs = 7, .modeName = "m", .createdAt = 2.5};
    const json::Json encoded = bare.toJson();
    std::vector<std::string> keys;
    for (const auto& item : encoded.items()) keys.push_back(item.key());
    EXPECT_EQ(keys,
              (std::vector<std::string>{"id", "ts", "text", "elapsedMs", "modeName", "createdAt"}));
    EXPECT_EQ(HistoryEntry::fromJson(encoded), bare);

    const HistoryEntry full = HistoryEntry::fromJson(fullObject());
    EXPECT_EQ(full.toJson().size(), 12u);
    EXPECT_EQ(HistoryEntry::fromJson(json::Json::parse(full.toJson().dump())), full);
}

TEST(HistoryEntry, WordsAndWordsPerMinute) {
    struct Case {
        std::string text;
        int64_t elapsedMs;
        std::optional<int64_t> durationMs;
        int64_t words;
        std::optional<double> wpm;
    };
    const std::vector<Case> cases = {
        {"", 60000, std::nullopt, 0, 0.0},
        {" \n\t ", 60000, std::nullopt, 0, 0.0},
        {"раз два\nтри\u00A0four", 60000, std::nullopt, 4, 4.0},
        {"one two", 30000, 6000, 2, 20.0},  // durationMs wins over elapsedMs
        {"one two", 501, std::nullopt, 2, 2 / (501 / 60000.0)},
        {"one two", 500, std::nullopt, 2, std::nullopt},
        {"one two", 90000, 500, 2, std::nullopt},  // a present durationMs is used even when short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const HistoryEntry e{.text = c.text, .elapsedMs = c.elapsedMs, .durationMs = c.durationMs};
        EXPECT_EQ(e.words(), c.words);
        ASSERT_EQ(e.wpm().has_value(), c.wpm.has_value());
        if (c.wpm) {
            EXPECT_DOUBLE_EQ(*e.wpm(), *c.wpm);
        }
    }
}

}  // namespace
}  // namespace quorvel
