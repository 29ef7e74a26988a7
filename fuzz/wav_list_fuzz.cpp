// A WAV-list file on arbitrary bytes: entries hold no line or field separators, writing them
// back (behind a byte order mark, with CRLF-safe field ends) reads back the same entries, and the
// result line of every entry is JSON whatever bytes the list held.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "FuzzSupport.h"
#include "core/WavList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvel;
    using fuzz::check;
    const auto entries = WavList::parse(fuzz::asText(data, size));
    // A trailing tab closes the expected text, so a "\r" it ends with is kept rather than read
    // as half of a CRLF line end.
    std::string written = "\xEF\xBB\xBF";
    for (const auto& entry : entries) {
        for (const std::string* field : {&entry.path, &entry.expected})
            check(field->find_first_of("\n\t") == std::string::npos, "an entry holds a newline or a tab");
        written += entry.path + "\t" + entry.expected + "\t\r\n";

        const std::string verdict = WavList::verdict(entry.path, entry.expected);
        check(verdict == "?" || verdict == "exact" || verdict == "partial" || verdict == "diff", "unknown verdict");
        check(entry.expected.empty() || WavList::verdict(entry.expected, entry.expected) == "exact",
              "a text is not an exact match of itself");
        const auto line = nlohmann::json::parse(WavList::resultLine(entry.path, entry.expected, entry.path, 1.5),
                                                nullptr, false);
        check(line.is_object() && line.size() == 5, "a result line is not a JSON object of five members");
        check(nlohmann::json::parse(WavList::decodeLine(entry.path), nullptr, false).is_object(),
              "a decode line is not a JSON object");
    }
    const auto reread = WavList::parse(written);
    check(reread.size() == entries.size(), "a written list reads back a different number of entries");
    for (size_t i = 0; i < entries.size(); ++i)
        check(reread[i].path == entries[i].path && reread[i].expected == entries[i].expected,
              "an entry changed in a round trip");
    return 0;
}
