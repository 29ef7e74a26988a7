#include "core/HistoryEntry.h"

#include <gtest/gtest.h>

#include <regex>

namespace quorvel {
namespace {

json::Json fullObject() {
    return json::Json::parse(
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","ts":"2024-05-01 10:00:00",
        "text":"привет мир","originalText":"привет мир.","elapsedMs":1500,"modeName":"Обычный",
        "translatedTo":"en","audioPath":"/tmp/rec-1.wav","durationMs":1200,"modelName":"gigaam",
        "sourceApp":"Firefox","createdAt":1714557600.5})");
}

TEST(HistoryEntry, DecodesEveryFieldAndAcceptsLowerCaseIdsIntegralFloatsAndUnknownKeys) {
    HistoryEntry expected{.id = "3F2504E0-4F89-41D3-9A0C-0305E82C3301",
                          .ts = "2024-05-01 10:00:00", .text = "привет мир",
                          .originalText = "привет мир.", .elapsedMs = 1500,
                          .modeName = "Обычный", .translatedTo = "en",
                          .audioPath = "/tmp/rec-1.wav", .durationMs = 1200,
                          .modelName = "gigaam", .sourceApp = "Firefox",
                          .createdAt = 1714557600.5};
    EXPECT_EQ(HistoryEntry::fromJson(fullObject()), expected);

    json::Json object = fullObject();
    object["id"] = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
    object["elapsedMs"] = 1500.0;
    object["createdAt"] = 1714557600;
    object["somethingNew"] = {{"nested", 1}};
    expected.createdAt = 1714557600;
    EXPECT_EQ(HistoryEntry::fromJson(object), expected);
}

TEST(HistoryEntry, MissingOrNullKeysTakeDefaults) {
    json::Json nulls = fullObject();
    for (auto item : nulls.items()) item.value() = nullptr;
    for (const json::Json& object : {json::Json::object(), nulls}) {
        SCOPED_TRACE(object.dump());
        const double before = localtime::nowSeconds();
        const HistoryEntry e = HistoryEntry::fromJson(object);
        EXPECT_TRUE(
            std::regex_match(e.id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
        EXPECT_GE(e.createdAt, before);
        EXPECT_LE(e.createdAt, localtime::nowSeconds());
        EXPECT_EQ(e, (HistoryEntry{.id = e.id, .createdAt = e.createdAt}));
    }
    // Each decode of a missing id gets its own.
    EXPECT_NE(HistoryEntry::fromJson(json::Json::object()).id,
              HistoryEntry::fromJson(json::Json::object()).id);
}

TEST(HistoryEntry, WrongTypesAndMalformedIdsAreDecodeErrors) {
    const std::vector<std::pair<const char*, json::Json>> cases = {
        {"id", 5}, {"id", "not-a-uuid"}, {"id", "3F2504E0-4F89-41D3-9A0C-0305E82C330"},
        {"ts", 1}, {"text", true}, {"originalText", json::Json::array()}, {"elapsedMs", "1"},
        {"elapsedMs", 1.5}, {"modeName", 0}, {"translatedTo", 1}, {"audioPath", false},
        {"durationMs", "12"}, {"modelName", 2}, {"sourceApp", json::Json::object()},
        {"createdAt", "yesterday"}};
    for (const auto& [key, value] : cases) {
        json::Json object = fullObject();
        object[key] = value;
        EXPECT_THROW(HistoryEntry::fromJson(object), json::DecodeError)
            << key << " = " << value.dump();
    }
    EXPECT_THROW(HistoryEntry::fromJson(json::Json::array()), json::DecodeError);
    EXPECT_THROW(HistoryEntry::fromJson(json::Json("text")), json::DecodeError);
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

}  // namespace
}  // namespace quorvel
