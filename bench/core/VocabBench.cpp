// Vocabulary correction as the pipeline runs it: a corrector built from the user's rules, then
// one recognised text corrected. 1 000 rules of one to three Russian or English words; a text of
// 500 words in which a few dozen of the rules occur. And the vocabulary file of 100 000 such
// rules loaded (every start and every command-line transcription) and saved.

#include "BenchScratch.h"
#include "core/AtomicFile.h"
#include "core/Unicode.h"
#include "core/VocabCorrector.h"
#include "core/VocabStore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// Made-up but word-like: syllables of each language glued together.
std::string makeWord(std::mt19937& random, const std::vector<std::string>& syllables) {
    std::uniform_int_distribution<size_t> pick(0, syllables.size() - 1);
    std::uniform_int_distribution<int> count(2, 4);
    std::string word;
    for (int i = count(random); i > 0; --i) word += syllables[pick(random)];
    return word;
}

struct Workload {
    VocabCorrector::Pairs rules;
    std::string text;
};

// `count` distinct phrases of one to three made-up words.
VocabCorrector::Pairs makeRules(std::mt19937& random, size_t count, const std::vector<std::string>& ruleWords,
                                std::vector<std::string>& phrases) {
    VocabCorrector::Pairs rules;
    std::uniform_int_distribution<size_t> pickRuleWord(0, ruleWords.size() - 1);
    std::uniform_int_distribution<int> phraseLength(1, 3);
    while (rules.size() < count) {
        std::string phrase = ruleWords[pickRuleWord(random)];
        for (int i = phraseLength(random); i > 1; --i) phrase += " " + ruleWords[pickRuleWord(random)];
        if (rules.emplace(phrase, "Замена " + std::to_string(rules.size())).second) phrases.push_back(phrase);
    }
    return rules;
}

Workload makeWorkload() {
    const std::vector<std::string> russian = {"ка", "ро", "ми", "ту", "ле", "на", "ви", "до", "ст", "пр",
                                              "ва", "ше", "ло", "гу", "бе", "зи", "жа", "чо", "мы", "ть"};
    const std::vector<std::string> english = {"ka", "ro", "mi", "tu", "le", "na", "vi", "do", "st", "pr",
                                              "th", "er", "in", "on", "ex", "qu", "ly", "ch", "ow", "ay"};
    std::mt19937 random(20240611);
    std::vector<std::string> ruleWords;  // words the rules are made of
    for (int i = 0; i < 300; ++i) ruleWords.push_back(makeWord(random, i % 2 ? russian : english));

    Workload workload;
    std::vector<std::string> phrases;
    workload.rules = makeRules(random, 1000, ruleWords, phrases);

    // Ordinary words that are not rules, with a rule phrase now and then, some in upper case.
    const std::vector<std::string> common = {"и", "в", "не", "что", "это", "как", "мы", "the", "and", "of",
                                             "to", "is", "для", "проект", "meeting", "завтра", "file", "код"};
    std::uniform_int_distribution<size_t> pickCommon(0, common.size() - 1);
    std::uniform_int_distribution<size_t> pickPhrase(0, phrases.size() - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    int words = 0;
    while (words < 500) {
        if (percent(random) < 10) {
            std::string phrase = phrases[pickPhrase(random)];
            if (percent(random) < 30) phrase = unicode::toUpper(phrase);
            workload.text += phrase;
            words += 1 + static_cast<int>(std::count(phrase.begin(), phrase.end(), ' '));
        } else {
            workload.text += common[pickCommon(random)];
            ++words;
        }
        workload.text += percent(random) < 10 ? ", " : " ";
    }
    return workload;
}

const Workload& workload() {
    static const Workload instance = makeWorkload();
    return instance;
}

void BM_VocabBuildAndCorrect(benchmark::State& state) {
    const Workload& w = workload();
    for (auto _ : state) {
        const VocabCorrector corrector(w.rules);
        benchmark::DoNotOptimize(corrector.correct(w.text));
    }
}
BENCHMARK(BM_VocabBuildAndCorrect)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_VocabCorrectPrebuilt(benchmark::State& state) {
    const Workload& w = workload();
    const VocabCorrector corrector(w.rules);
    for (auto _ : state) benchmark::DoNotOptimize(corrector.correct(w.text));
}
BENCHMARK(BM_VocabCorrectPrebuilt)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

// 100 000 rules over 3 000 made-up words, as a user's large imported vocabulary.
VocabCorrector::Pairs largeVocabulary() {
    const std::vector<std::string> syllables = {"ка", "ро", "ми", "ту", "ka", "ro", "mi", "tu", "le", "na",
                                                "ле", "на", "ви", "до", "vi", "do", "st", "pr", "th", "er"};
    std::mt19937 random(20240612);
    std::vector<std::string> words, phrases;
    for (int i = 0; i < 3000; ++i) words.push_back(makeWord(random, syllables));
    return makeRules(random, 100000, words, phrases);
}

void BM_VocabStoreLoad100k(benchmark::State& state) {
    const bench::ScratchFolder scratch;
    const auto file = scratch.dir() / "vocab.json";
    files::writeAtomically(file, VocabStore::encode(largeVocabulary()));
    for (auto _ : state) {
        const VocabStore store(file);
        if (store.pairs().size() != 100000) state.SkipWithError("rules lost");
    }
}
BENCHMARK(BM_VocabStoreLoad100k)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_VocabStoreSave100k(benchmark::State& state) {
    const bench::ScratchFolder scratch;
    VocabStore store(scratch.dir() / "vocab.json");
    store.setPairs(largeVocabulary());
    for (auto _ : state) {
        if (!store.save()) state.SkipWithError("not saved");
    }
}
BENCHMARK(BM_VocabStoreSave100k)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace quorvel
