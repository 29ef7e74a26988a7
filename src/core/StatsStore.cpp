#include "core/StatsStore.h"

#include <charconv>
#include <limits>

#include "core/AtomicFile.h"
#include "core/CoreLog.h"
#include "core/FileLock.h"
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
    reload();
}

void StatsStore::reload() {
    const auto loaded = files::loadStoreFile(url_, "statistics", [this](const std::string& text) { return decode(text); });
    if (loaded == files::StoreLoad::KeptAside) fileKeptAside_ = true;
}

// Takes the file's values only when all of them decode: one member of the wrong type spoils
// the whole file.
bool StatsStore::decode(const std::string& text) {
    const auto parsed = json::parse(text);
    if (!parsed) return false;
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
        return true;
    } catch (const json::DecodeError&) {
        return false;
    }
}

void StatsStore::commit(const std::function<void()>& change) {
    if (fileKeptAside_) {
        change();
        return;
    }
    files::createDirectories(url_.parent_path());
    const FileLock lock(url_);
    if (!lock.held()) corelog::warn("statistics: saving " + url_.string() + " without its lock");
    reload();  // another process may have recorded sessions since we last looked
    change();
    save();
}

void StatsStore::save() const {
    if (fileKeptAside_) return;
    json::Json object = json::Json::object();
    object["wordsTotal"] = wordsTotal_;
    object["sessionsTotal"] = sessionsTotal_;
    object["appsUsed"] = json::Json::array();
    for (const std::string& app : appsUsed_) object["appsUsed"].push_back(app);  // std::set: sorted
    object["typedWPM"] = typedWPM_;
    if (const auto text = json::dump(object)) files::writeAtomically(url_, *text);
}

void StatsStore::setTypedWPM(double wordsPerMinute) {
    commit([&] { typedWPM_ = wordsPerMinute; });
}

void StatsStore::add(const Session& session) {
    wordsTotal_ = saturatingAdd(wordsTotal_, session.words);
    sessionsTotal_ = saturatingAdd(sessionsTotal_, 1);
    if (session.sourceApp && !session.sourceApp->empty()) appsUsed_.insert(*session.sourceApp);
}

void StatsStore::recordSession(int64_t words, const std::optional<std::string>& sourceApp) {
    commit([&] { add(Session{words, sourceApp}); });
}

void StatsStore::recordSessions(const std::vector<Session>& sessions) {
    commit([&] {
        for (const Session& session : sessions) add(session);
    });
}

void StatsStore::migrateFrom(const std::vector<HistoryEntry>& history) {
    commit([&] {
        for (const HistoryEntry& entry : history) add(Session{entry.words(), entry.sourceApp});
    });
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
