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

StatsStore::StatsStore(std::filesystem::path url, std::chrono::milliseconds lockWait)
    : url_(std::move(url)), lockWait_(lockWait) {
    reload();
}

StatsStore::~StatsStore() {
    if (unsaved_.sessions != 0 || unsaved_.typedWPM) commit([] {});
}

void StatsStore::reload() {
    const auto loaded = files::loadStoreFile(url_, "statistics", [this](const std::string& text) { return decode(text); });
    if (loaded == files::StoreLoad::KeptAside) fileKeptAside_ = true;
    shown_ = sum(saved_, unsaved_);
}

// Takes the file's values only when all of them decode: one member of the wrong type spoils
// the whole file.
bool StatsStore::decode(const std::string& text) {
    const auto parsed = json::parse(text);
    if (!parsed) return false;
    try {
        json::requireObject(*parsed, "stats");
        Totals file;
        std::vector<std::string> apps;
        double typed = kDefaultTypedWPM;
        json::read(*parsed, "wordsTotal", file.words);
        json::read(*parsed, "sessionsTotal", file.sessions);
        json::read(*parsed, "appsUsed", apps);
        json::read(*parsed, "typedWPM", typed);
        file.apps = std::set<std::string>(apps.begin(), apps.end());
        file.typedWPM = typed;
        saved_ = std::move(file);
        return true;
    } catch (const json::DecodeError&) {
        return false;
    }
}

StatsStore::Totals StatsStore::sum(const Totals& base, const Totals& change) {
    Totals total = base;
    total.words = saturatingAdd(base.words, change.words);
    total.sessions = saturatingAdd(base.sessions, change.sessions);
    total.apps.insert(change.apps.begin(), change.apps.end());
    if (change.typedWPM) total.typedWPM = change.typedWPM;
    return total;
}

void StatsStore::commit(const std::function<void()>& change) {
    change();
    shown_ = sum(saved_, unsaved_);
    if (fileKeptAside_) return;
    files::createDirectories(url_.parent_path());
    const FileLock lock(url_, lockWait_);
    if (lock.timedOut()) {
        // Saving now would be overwritten by the holder's save (or overwrite it): wait for the next.
        corelog::warn("statistics: " + url_.string() + " is locked by another process; the change is kept for the next save");
        return;
    }
    if (!lock.held()) corelog::warn("statistics: saving " + url_.string() + " without its lock");
    reload();  // another process may have recorded sessions since we last looked
    if (fileKeptAside_) return;
    if (!save(shown_)) {
        corelog::warn("statistics: cannot save " + url_.string() + "; the change is kept for the next save");
        return;
    }
    saved_ = shown_;
    unsaved_ = Totals{};
}

bool StatsStore::save(const Totals& totals) const {
    json::Json object = json::Json::object();
    object["wordsTotal"] = totals.words;
    object["sessionsTotal"] = totals.sessions;
    object["appsUsed"] = json::Json::array();
    for (const std::string& app : totals.apps) object["appsUsed"].push_back(app);  // std::set: sorted
    object["typedWPM"] = totals.typedWPM.value_or(kDefaultTypedWPM);
    const auto text = json::dump(object);
    return text && files::writeAtomically(url_, *text);
}

void StatsStore::setTypedWPM(double wordsPerMinute) {
    commit([&] { unsaved_.typedWPM = wordsPerMinute; });
}

void StatsStore::add(const Session& session) {
    unsaved_.words = saturatingAdd(unsaved_.words, session.words);
    unsaved_.sessions = saturatingAdd(unsaved_.sessions, 1);
    if (session.sourceApp && !session.sourceApp->empty()) unsaved_.apps.insert(*session.sourceApp);
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
    const double perMinute = typedWPM() <= 1 ? 1.0 : typedWPM();
    return static_cast<double>(wordsTotal()) / perMinute / 60.0;
}

std::string StatsStore::shareText(const std::vector<HistoryEntry>& history) const {
    const auto average = averageDictationWPM(history);
    std::string text = "Tovik — статистика (локально, всё время)\nСлов: ";
    text += std::to_string(wordsTotal());
    text += "\nСредняя скорость диктовки: ";
    text += average ? fixed(*average, 0) : "—";
    text += " WPM\nСкорость моей печати: ";
    text += fixed(typedWPM(), 0);
    text += " WPM\nПриложений использовано: ";
    text += std::to_string(appsUsed().size());
    text += "\nСэкономлено времени: ";
    text += fixed(hoursSaved(), 1);
    text += " ч";
    return text;
}

}  // namespace quorvel
