#pragma once
// The part of a dictation after its recording stopped: recognition, vocabulary, capitalisation,
// optional punctuation and translation, then the finishing step (audio file, history,
// statistics, insertion, sound, timing line, optional quit). Every step answers through a
// completion on the main thread; a dictation that fails on the way ends with a notice on the
// pill. Several dictations may be under way at once, each carrying its own values.

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Dictation.h"
#include "app/PipelineParts.h"

namespace quorvel {

class DictationChain : public QObject {
    Q_OBJECT
  public:
    DictationChain(PipelineParts parts, PipelineHooks hooks, PipelineTimings timings);
    // Saves the audio of the dictations still on their way.
    ~DictationChain() override;

    // Hands the stopped dictation to recognition (the worker starts if needed).
    void recognize(std::shared_ptr<Dictation> dictation, Transcriber& transcriber);

    // Dictations handed over and not finished yet.
    int underWay() const { return underWay_; }

    // Whether a recording is running now: a finishing dictation leaves the pill to it.
    std::function<bool()> recordingRunning;

  Q_SIGNALS:
    // Once per recognised dictation: `succeeded` when its text was inserted or put on the
    // clipboard.
    void dictationEnded(bool succeeded);

  private:
    using Ptr = std::shared_ptr<Dictation>;

    void recognized(const Ptr& dictation, const std::optional<std::string>& text);
    void recognitionFailed(const Ptr& dictation);
    void translateOrFinish(const Ptr& dictation, const std::string& text);
    void finish(const Ptr& dictation, const std::string& text,
                const std::optional<std::string>& translatedTo);
    void insert(const Ptr& dictation, const std::string& text);
    void pasteFinished();
    void insertionDone(const Ptr& dictation);
    void end(bool succeeded);
    std::optional<std::string> saveAudio(const Dictation& dictation);

    PipelineParts parts_;
    PipelineHooks hooks_;
    PipelineTimings timings_;
    int underWay_ = 0;
    std::deque<Ptr> awaitingPaste_;  // oldest first, as the paster reports them
    std::vector<Ptr> unsaved_;       // handed to recognition, audio not written yet
};

}  // namespace quorvel
