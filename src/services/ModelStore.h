#pragma once
// Downloads catalog models into the models folder with the system's curl and tar, tracks which
// downloads run, and removes installed models.
//
// A download writes into a hidden staging folder next to the final one and renames it into place
// only when every file of the model arrived whole (as long as the server announced), an archive
// unpacked without links, and each file is what it claims to be (see core/ModelFiles.h), all
// flushed to disk first; so a failed, cut or forged download never makes a model look installed
// and leaves nothing behind. A download that grows far past the model's listed size or to
// thousands of files (an archive bomb, a server that never stops sending) is stopped before it
// fills the disk. Everything
// this object reports happens on the main thread; the tools run as child processes.

#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/ModelCatalog.h"

class QProcess;
class QTimer;

namespace quorvel {

// How ModelStore runs its tools; tests shorten the time-outs and point it at a local server.
struct ModelDownloadOptions {
    // When set, every download keeps its URL's path but is fetched from this base instead
    // ("http://127.0.0.1:8080/mirror" turns "https://host/a/b" into ".../mirror/a/b").
    QString mirror;
    QString curlPath = QStringLiteral("/usr/bin/curl");
    QString tarPath = QStringLiteral("/usr/bin/tar");
    int retries = 3;
    int connectTimeoutSeconds = 30;
    // A transfer that moves no data for this long is given up (a stalled server).
    int stallSeconds = 60;
};

class ModelStore : public QObject {
    Q_OBJECT

  public:
    using Options = ModelDownloadOptions;

    explicit ModelStore(ModelCatalog catalog = ModelCatalog(), Options options = Options(),
                        QObject* parent = nullptr);
    // Stops running downloads and removes their staging folders.
    ~ModelStore() override;

    // Starts downloading `model` and returns at once. False (and nothing happens) when the model
    // has no download URL, an unusable folder or file name, or its download is already running.
    bool download(const STTModel& model);

    // Removes the model's folder from the models folder. False (and nothing happens) when the
    // model is not removable, is being downloaded, or has no copy in the models folder; copies in
    // the legacy or system folders are never touched.
    bool remove(const STTModel& model);

    // Stops the running download of `id` and removes what it fetched; the installed copy, if
    // any, stays. Reported like a failed download with the error "cancelled". False when no
    // download of `id` runs.
    bool cancel(const std::string& id);

    bool isDownloading(const std::string& id) const;
    // What the running download of `id` held when last measured (0 when none runs).
    qint64 receivedBytes(const std::string& id) const;
    std::set<std::string> downloading() const;
    const ModelCatalog& catalog() const { return catalog_; }

    // Where `file` of `model` is fetched from (the archive's URL for an archive model).
    QString sourceURL(const STTModel& model, const std::string& file) const;

  Q_SIGNALS:
    void downloadingChanged();
    // A model was installed or removed.
    void changed();
    // One more step (a file fetched, the archive unpacked) of the download of `id` finished.
    void progress(const QString& id, int stepsDone, int stepsTotal);
    // What the download of `id` holds so far, measured a few times a second while it grows
    // (an archive counts twice once it unpacks).
    void received(const QString& id, qint64 bytes);
    // The download of `id` ended; `error` says why it failed.
    void downloadFinished(const QString& id, bool ok, const QString& error);

  private:
    struct Job;

    bool prepare(Job& job, QString& error);
    void runNextStep(const std::string& id);
    void onStepFinished(const std::string& id, QProcess* process, int exitCode, bool crashed);
    void onStepFailedToStart(const std::string& id, QProcess* process);
    QString installStaged(Job& job);
    void stopStep(Job& job);
    void checkGrowth();
    void finish(const std::string& id, const QString& error, bool cancelled = false);

    ModelCatalog catalog_;
    Options options_;
    std::map<std::string, std::unique_ptr<Job>> jobs_;
    QTimer* watchdog_ = nullptr;  // measures running downloads while there are any
    std::uint64_t runs_ = 0;      // downloads started so far
};

}  // namespace quorvel
