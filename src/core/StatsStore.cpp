#include "core/StatsStore.h"

#include <charconv>
#include <limits>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/JsonFields.h"

namespace quorvel {
namespace {

// Totals only grow; a hand-edited huge value must not wrap around to a negative one.
int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// printf-style "%.Nf", but always with a decimal point whatever the process locale says.
std::string fixed(double value, int decimals) {
    char buffer[400];  // room for any double in fixed notation
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "—";
    return std::string(buffer, result.ptr);
}

}  // namespace

StatsStore::StatsStore(std::filesystem::path url) : url_(std::move(url)) {
    load();
}

void StatsStore::load() {
    const auto text = files::readWhole(url_);
    if (!text) return;
    const auto parsed = json::parse(*text);
    if (!parsed) {
        files::keepUnreadableCopy(url_, *text);
        return;
    }
    try {
        json::requireObject(*parsed, "stats");
        int64_t words = 0, sessions = 0;
        std::vector<std::string> apps;
        double typed = kDefaultTypedWPM;
        json::read(*parsed, "wordsTotal", words);
        json::read(*parsed, "sessionsTotal", sessions);
        json::read(*parsed, "appsUsed", apps);
        json::read(*parsed, "typedWPM", typed);
        wordsTotal_ = words;
        sessionsTotal_ = sessions;
        appsUsed_ = std::set<std::string>(apps.begin(), apps.end());
        typedWPM_ = typed;
    } catch (const json::DecodeError&) {
        // One member of the wrong type spoils the whole file: keep the initial values, and the
        // file's bytes aside, since the next save replaces it.
        files::keepUnreadableCopy(url_, *text);
    }
}

void StatsStore::save() const {
    files::createDirectories(AppPaths::supportDir());
    json::Json object = json::Json::object();
    object["wordsTotal"] = wordsTotal_;
    object["sessionsTotal"] = sessionsTotal_;
    object["appsUsed"] = json::Json::array();
    for (const std::string& app : appsUsed_) object["appsUsed"].push_back(app);  // std::set: sorted
    object["typedWPM"] = typedWPM_;
    if (const auto text = json::dump(object)) files::writeAtomically(url_, *text);
}

void StatsStore::setTypedWPM(double wordsPerMinute) {
    typedWPM_ = wordsPerMinute;
    save();
}

void StatsStore::add(const Session& session) {
    wordsTotal_ = saturatingAdd(wordsTotal_, session.words);
    sessionsTotal_ = saturatingAdd(sessionsTotal_, 1);
    if (session.sourceApp && !session.sourceApp->empty()) appsUsed_.insert(*session.sourceApp);
}

void StatsStore::recordSession(int64_t words, const std::optional<std::string>& sourceApp) {
    add(Session{words, sourceApp});
    save();
}

void StatsStore::recordSessions(const std::vector<Session>& sessions) {
    for (const Session& session : sessions) add(session);
    save();
}

void StatsStore::migrateFrom(const std::vector<HistoryEntry>& history) {
    for (const HistoryEntry& entry : history) add(Session{entry.words(), entry.sourceApp});
    save();
}

std::optional<double> StatsStore::averageDictationWPM(const std::vector<HistoryEntry>& history) {
    double sum = 0;
    size_t count = 0;
    for (const HistoryEntry& entry : history) {
        const auto rate = entry.wpm();  // absent for recordings of 500 ms or less
        if (!rate || *rate <= 0 || *rate >= 400) continue;
        sum += *rate;
        ++count;
    }
    if (count == 0) return std::nullopt;
    return sum / static_cast<double>(count);
}

double StatsStore::hoursSaved() const {
    const double perMinute = typedWPM_ <= 1 ? 1.0 : typedWPM_;
    return static_cast<double>(wordsTotal_) / perMinute / 60.0;
}

std::string StatsStore::shareText(const std::vector<HistoryEntry>& history) const {
    const auto average = averageDictationWPM(history);
    std::string text = "Tovik — статистика (локально, всё время)\nСлов: ";
    text += std::to_string(wordsTotal_);
    text += "\nСредняя скорость диктовки: ";
    text += average ? fixed(*average, 0) : "—";
    text += " WPM\nСкорость моей печати: ";
    text += fixed(typedWPM_, 0);
    text += " WPM\nПриложений использовано: ";
    text += std::to_string(appsUsed_.size());
    text += "\nСэкономлено времени: ";
    text += fixed(hoursSaved(), 1);
    text += " ч";
    return text;
}

}  // namespace quorvel
