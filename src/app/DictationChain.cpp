#include "app/DictationChain.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <cstdio>

#include "app/RecordingFiles.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/TextProcessing.h"
#include "core/Unicode.h"
#include "core/VocabStore.h"
#include "core/WorkerPrefs.h"
#include "platform/Paster.h"
#include "platform/SoundPlayer.h"
#include "platform/SystemQueries.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "ui/PillPanel.h"

namespace quorvel {
namespace {

using Clock = Dictation::Clock;

int64_t millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The model family that decides punctuation: the catalog's type of the dictation's model;
// an id the catalog does not list counts as "nemo".
std::string modelType(const DictationMode& mode, const AppConfig& config) {
    const auto model = ModelCatalog::model(chosenModelID(mode, config));
    return model ? model->type : "nemo";
}

// "default" follows pasteResultText, "on" pastes, anything else leaves the text on the clipboard.
bool shouldPaste(const std::string& autoPaste, bool pasteResultText) {
    if (autoPaste == "default") return pasteResultText;
    return autoPaste == "on";
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

DictationChain::DictationChain(PipelineParts parts, PipelineHooks hooks, PipelineTimings timings)
    : parts_(std::move(parts)), hooks_(std::move(hooks)), timings_(timings) {
    connect(&parts_.paster, &Paster::finished, this, &DictationChain::pasteFinished);
}

DictationChain::~DictationChain() {
    // The program quits while these are still on their way: their speech is kept all the same.
    for (const Ptr& dictation : unsaved_)
        if (const auto path = RecordingFiles::save(dictation->samples, parts_.history().recordingsDir()))
            Log::warn("запись прервана выходом из программы — сохранена: " + path->string());
}

void DictationChain::recognize(std::shared_ptr<Dictation> dictation, Transcriber& transcriber) {
    ++underWay_;
    unsaved_.push_back(dictation);
    dictation->recognitionStart = Clock::now();
    QPointer<DictationChain> self(this);
    transcriber.transcribe(dictation->samples, [self, dictation](std::optional<std::string> text) {
        if (self) self->recognized(dictation, text);
    });
}

void DictationChain::recognized(const Ptr& dictation, const std::optional<std::string>& text) {
    dictation->elapsedMs = millisecondsSince(dictation->recognitionStart);
    if (!text || text->empty()) return recognitionFailed(dictation);
    dictation->rawText = *text;
    std::string corrected = parts_.vocab.corrector().correct(*text);
    if (dictation->mode.autocapitalize && !corrected.empty())
        corrected = TextProcessing::capitalizeFirst(corrected);

    const AppConfig config = parts_.config.config();
    if (!TextProcessing::shouldPunctuate(modelType(dictation->mode, config), config.punctRestore))
        return translateOrFinish(dictation, corrected);
    QPointer<DictationChain> self(this);
    OllamaPunctuate::run(
        corrected, config,
        [self, dictation, corrected](std::optional<std::string> punctuated) {
            if (self) self->translateOrFinish(dictation, punctuated.value_or(corrected));
        },
        timings_.punctuation);
}

// Nothing to insert, but the user spoke: the audio stays in the recordings folder so the file
// can be recognised again later.
void DictationChain::recognitionFailed(const Ptr& dictation) {
    Log::warn("пустой результат STT (см. worker_stderr.log)");
    const auto saved = saveAudio(*dictation);
    if (saved) Log::info("запись сохранена: " + *saved);
    parts_.pill.showWithoutActivating();
    parts_.pill.appendText(
        qs(std::string("⚠️ Не распознано — подробности в логе") +
           (saved ? " — запись сохранена" : "")));
    end(false);
}

void DictationChain::translateOrFinish(const Ptr& dictation, const std::string& text) {
    const std::string target = dictation->mode.translateTo;
    if (target == "off") return finish(dictation, text, std::nullopt);
    QPointer<DictationChain> self(this);
    OllamaTranslate::translate(
        text, target, parts_.config.config(),
        [self, dictation, text, target](std::optional<std::string> translated) {
            if (!self) return;
            if (translated)
                self->finish(dictation, *translated, target);
            else
                self->finish(dictation, text, std::nullopt);
        },
        timings_.translation);
}

void DictationChain::finish(const Ptr& dictation, const std::string& text,
                            const std::optional<std::string>& translatedTo) {
    parts_.history().append(HistoryEntry{.ts = "",
                                         .text = text,
                                         .originalText = dictation->rawText,
                                         .elapsedMs = dictation->elapsedMs,
                                         .modeName = dictation->mode.name,
                                         .translatedTo = translatedTo,
                                         .audioPath = saveAudio(*dictation),
                                         .durationMs = dictation->durationMs,
                                         .modelName = dictation->modelName,
                                         .sourceApp = dictation->sourceApp});
    parts_.stats.recordSession(unicode::wordCount(text), dictation->sourceApp);
    parts_.pill.appendText(qs(text));
    insert(dictation, text);
}

void DictationChain::insert(const Ptr& dictation, const std::string& text) {
    const AppConfig config = parts_.config.config();
    if (!shouldPaste(dictation->mode.autoPaste, config.pasteResultText)) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(qs(text));
        return insertionDone(dictation);
    }
    const bool sendReturn = config.holdShiftToSend && parts_.system.shiftHeld();
    dictation->awaitingPaste = true;
    awaitingPaste_.push_back(dictation);
    parts_.paster.paste(text, config.restoreClipboard, config.simulateKeypresses, sendReturn);
}

void DictationChain::pasteFinished() {
    if (awaitingPaste_.empty()) return;
    Ptr dictation = std::move(awaitingPaste_.front());
    awaitingPaste_.pop_front();
    insertionDone(dictation);
}

// The timing line measures up to here: the text is in the other application (or on the
// clipboard), which is what the user waits for.
void DictationChain::insertionDone(const Ptr& dictation) {
    const AppConfig config = parts_.config.config();
    if (config.soundPaste) SoundPlayer::play(SoundPlayer::Kind::paste);
    char line[96];
    std::snprintf(line, sizeof line, "PIPELINE stop→paste: %.2f s (STT %.2f s)",
                  static_cast<double>(millisecondsSince(dictation->tStop)) / 1000.0,
                  static_cast<double>(dictation->elapsedMs) / 1000.0);
    Log::info(line);
    if (hooks_.refreshMenu) hooks_.refreshMenu();
    if (config.closeAfterTranscription) {
        QTimer::singleShot(timings_.quitDelay, this, [quit = hooks_.quit] {
            if (quit)
                quit();
            else
                QCoreApplication::quit();
        });
    }
    end(true);
}

// A dictation that ends while a newer one records or is still on its way leaves the pill to
// that one.
void DictationChain::end(bool succeeded) {
    --underWay_;
    const bool recording = recordingRunning && recordingRunning();
    if (!recording && underWay_ == 0) parts_.pill.setState(PillState::collapsed);
    Q_EMIT dictationEnded(succeeded);
}

std::optional<std::string> DictationChain::saveAudio(const Dictation& dictation) {
    std::erase_if(unsaved_, [&](const Ptr& pending) { return pending.get() == &dictation; });
    const auto path = RecordingFiles::save(dictation.samples, parts_.history().recordingsDir());
    if (!path) return std::nullopt;
    return path->string();
}

}  // namespace quorvel
