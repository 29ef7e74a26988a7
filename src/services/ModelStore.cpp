#include "services/ModelStore.h"

#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"
#include "core/ModelFiles.h"
#include "services/Log.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

struct Step {
    QString program;
    QStringList arguments;
    // A fetched file: the final answer must be 200 (curl saves the body of a 3xx without a
    // Location, a 204 or a 206 as if it were the file) and its size the length the server
    // announced (curl takes a connection closed early, or a chunked body beside a Content-Length,
    // as a whole file).
    fs::path fetched;
};

// curl prints the final response's status and announced length (empty when there was none).
const QString kFinalResponse = QStringLiteral("%{http_code} %header{content-length}");

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}
QString qs(const fs::path& path) {
    return QString::fromStdString(path.string());
}

bool entryExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Staging folders are hidden and named after the model's folder, so a later download of the same
// model can clear what a killed program left behind.
std::string stagingPrefix(const std::string& dirName) {
    return "." + dirName + ".tmp-";
}

std::optional<fs::path> makeStagingDir(const std::string& dirName, QString& error) {
    std::string pattern =
        (ModelCatalog::modelsDir() / (stagingPrefix(dirName) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error =
            QStringLiteral("cannot create a folder in %1: %2")
                .arg(qs(ModelCatalog::modelsDir()), QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    return fs::path(pattern);
}

void removeStaleStaging(const std::string& dirName) {
    const std::string prefix = stagingPrefix(dirName);
    std::error_code ec;
    for (fs::directory_iterator it(ModelCatalog::modelsDir(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().rfind(prefix, 0) == 0) {
            modelfiles::removeTree(it->path());
        }
    }
}

// A file name of a model: a relative path that stays inside the model's folder.
bool isSafeFileName(const std::string& file) {
    if (file.empty() || file.front() == '/' || file.find('\0') != std::string::npos) return false;
    for (const fs::path& part : fs::path(file)) {
        if (part == ".." || part == ".") return false;
    }
    return true;
}

bool hasUsableFiles(const STTModel& model) {
    if (model.files.empty()) return false;
    for (const std::string& file : model.files) {
        if (!isSafeFileName(file)) return false;
    }
    return true;
}

// Why the fetched `file` is not what the final response (curl's "<status> <length>") promised,
// or "".
QString responseProblem(const fs::path& file, const QByteArray& response) {
    if (file.empty()) return {};
    const QByteArray trimmed = response.trimmed();
    const qsizetype space = trimmed.indexOf(' ');
    const QByteArray status = space < 0 ? trimmed : trimmed.left(space);
    if (status != "200")
        return QStringLiteral("%1: the server answered %2")
            .arg(qs(file.filename()), QString::fromLatin1(status.left(10)));
    const QByteArray announced = space < 0 ? QByteArray() : trimmed.mid(space + 1).trimmed();
    if (announced.isEmpty()) return {};
    bool valid = false;
    const qulonglong expected = announced.toULongLong(&valid);
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (valid && !ec && size == expected) return {};
    return QStringLiteral("%1: %2 bytes arrived, the server announced %3")
        .arg(qs(file.filename()), ec ? QStringLiteral("no") : QString::number(size),
             QString::fromLatin1(announced.left(40)));
}

// A download may take ten times the model's listed size (an archive unpacks to more than it
// weighs) plus 64 MiB, in at most this many files; beyond that it is a bomb or a server that never
// stops sending, and would only fill the disk.
constexpr std::size_t kMaxEntries = 2000;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr int kGrowthCheckMs = 250;

std::uint64_t byteLimit(const STTModel& model) {
    return static_cast<std::uint64_t>(std::clamp(model.sizeMB, 0.0, 1e6) * 10) * kMiB + 64 * kMiB;
}

// Why `use` (what a staging folder holds) is more than a download of `model` may take, or "".
QString growthProblem(const modelfiles::TreeUse& use, const STTModel& model) {
    if (use.entries > kMaxEntries)
        return QStringLiteral("the download holds more than %1 files").arg(kMaxEntries);
    if (use.bytes > byteLimit(model))
        return QStringLiteral("the download grows past %1 MB").arg(byteLimit(model) / kMiB);
    return {};
}

// The last line curl or tar wrote to standard error, as the reason of a failure.
QString lastLine(const QByteArray& output) {
    const QList<QByteArray> lines = output.trimmed().split('\n');
    QString line = QString::fromLocal8Bit(lines.isEmpty() ? QByteArray() : lines.last().trimmed());
    return line.left(300);
}

}  // namespace

struct ModelStore::Job {
    STTModel model;
    fs::path staging;  // hidden folder next to the final one, removed at the end in every case
    fs::path built;    // the folder that becomes the model's folder
    std::vector<Step> steps;
    std::size_t next = 0;
    QProcess* process = nullptr;
    std::uint64_t bytes = 0;  // last measured size of the staging folder
    std::uint64_t run = 0;    // tells this download from a later one of the same model
};

ModelStore::ModelStore(ModelCatalog catalog, Options options, QObject* parent)
    : QObject(parent),
      catalog_(std::move(catalog)),
      options_(std::move(options)),
      watchdog_(new QTimer(this)) {
    watchdog_->setInterval(kGrowthCheckMs);
    connect(watchdog_, &QTimer::timeout, this, &ModelStore::checkGrowth);
}

ModelStore::~ModelStore() {
    for (auto& [id, job] : jobs_) {
        stopStep(*job);
        if (!job->staging.empty()) modelfiles::removeTree(job->staging);
    }
}

bool ModelStore::isDownloading(const std::string& id) const {
    return jobs_.count(id) != 0;
}

qint64 ModelStore::receivedBytes(const std::string& id) const {
    const auto found = jobs_.find(id);
    return found == jobs_.end() ? 0 : static_cast<qint64>(found->second->bytes);
}

std::set<std::string> ModelStore::downloading() const {
    std::set<std::string> ids;
    for (const auto& entry : jobs_) ids.insert(entry.first);
    return ids;
}

QString ModelStore::sourceURL(const STTModel& model, const std::string& file) const {
    if (!model.downloadURL) return {};
    QString url = qs(*model.downloadURL);
    if (!model.isArchive()) url += QLatin1Char('/') + qs(file);
    if (options_.mirror.isEmpty()) return url;
    QString base = options_.mirror;
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    const QUrl original(url);
    QString result = base + original.path(QUrl::FullyEncoded);
    if (original.hasQuery()) result += QLatin1Char('?') + original.query(QUrl::FullyEncoded);
    return result;
}

bool ModelStore::download(const STTModel& model) {
    if (!model.downloadURL || isDownloading(model.id)) return false;
    if (!ModelCatalog::isSafeDirName(model.dirName) || !hasUsableFiles(model)) return false;
    for (const auto& entry : jobs_) {
        if (entry.second->model.dirName == model.dirName) return false;  // one writer per folder
    }

    auto owned = std::make_unique<Job>();
    Job& job = *owned;
    job.model = model;
    job.run = ++runs_;
    const std::string id = model.id;
    jobs_.emplace(id, std::move(owned));
    watchdog_->start();
    Q_EMIT downloadingChanged();

    Log::info("скачивание модели " + id + " → " +
              (ModelCatalog::modelsDir() / model.dirName).string());
    QString error;
    const bool ready = prepare(job, error);
    // Completions always come later, never from inside this call. A download cancelled and
    // started again before this runs has a new job, which its own call starts.
    QMetaObject::invokeMethod(
        this,
        [this, id, ready, error, run = job.run] {
            const auto found = jobs_.find(id);
            if (found == jobs_.end() || found->second->run != run) return;
            if (ready) {
                runNextStep(id);
            } else {
                finish(id, error);
            }
        },
        Qt::QueuedConnection);
    return true;
}

bool ModelStore::prepare(Job& job, QString& error) {
    const STTModel& model = job.model;
    if (!files::createDirectories(ModelCatalog::modelsDir())) {
        error = QStringLiteral("cannot create the folder %1").arg(qs(ModelCatalog::modelsDir()));
        return false;
    }
    removeStaleStaging(model.dirName);
    std::optional<fs::path> staging = makeStagingDir(model.dirName, error);
    if (!staging) return false;
    job.staging = *staging;

    const QStringList curlOptions = {QStringLiteral("-sS"),
                                     QStringLiteral("-f"),
                                     QStringLiteral("-L"),
                                     QStringLiteral("--proto"),
                                     QStringLiteral("=http,https"),
                                     QStringLiteral("--proto-redir"),
                                     QStringLiteral("=http,https"),
                                     QStringLiteral("--retry"),
                                     QString::number(options_.retries),
                                     QStringLiteral("--connect-timeout"),
                                     QString::number(options_.connectTimeoutSeconds),
                                     QStringLiteral("--speed-limit"),
                                     QStringLiteral("1"),
                                     QStringLiteral("--speed-time"),
                                     QString::number(options_.stallSeconds),
                                     QStringLiteral("--create-dirs"),
                                     QStringLiteral("-w"),
                                     kFinalResponse};
    auto fetch = [&](const fs::path& target, const QString& url) {
        job.steps.push_back(
            {options_.curlPath, curlOptions + QStringList{QStringLiteral("-o"), qs(target), url},
             target});
    };

    std::error_code ec;
    if (model.isArchive()) {
        const fs::path archive = job.staging / (model.dirName + ".tar.bz2");
        const fs::path unpacked = job.staging / "unpacked";
        fs::create_directory(unpacked, ec);
        // The archive brings its own top folder, named like the model's folder.
        job.built = unpacked / model.dirName;
        fetch(archive, sourceURL(model, {}));
        job.steps.push_back({options_.tarPath,
                             {QStringLiteral("-xjf"), qs(archive), QStringLiteral("-C"),
                              qs(unpacked), QStringLiteral("--no-same-owner")},
                             {}});
    } else {
        job.built = job.staging / "model";
        fs::create_directory(job.built, ec);
        for (const std::string& file : model.files) fetch(job.built / file, sourceURL(model, file));
    }
    if (ec) {
        error = QStringLiteral("cannot create a folder in %1: %2")
                    .arg(qs(job.staging), qs(ec.message()));
        return false;
    }
    return true;
}

void ModelStore::runNextStep(const std::string& id) {
    auto found = jobs_.find(id);
    if (found == jobs_.end()) return;
    Job& job = *found->second;
    if (job.next == job.steps.size()) {
        finish(id, installStaged(job));
        return;
    }
    const Step& step = job.steps[job.next];
    auto* process = new QProcess(this);
    process->setProgram(step.program);
    process->setArguments(step.arguments);
    connect(process, &QProcess::finished, this,
            [this, id, process](int code, QProcess::ExitStatus status) {
                onStepFinished(id, process, code, status == QProcess::CrashExit);
            });
    connect(process, &QProcess::errorOccurred, this,
            [this, id, process](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) onStepFailedToStart(id, process);
            });
    job.process = process;
    process->start();
}

void ModelStore::onStepFinished(const std::string& id, QProcess* process, int exitCode,
                                bool crashed) {
    process->deleteLater();
    auto found = jobs_.find(id);
    if (found == jobs_.end() || found->second->process != process) return;
    Job& job = *found->second;
    job.process = nullptr;
    const QString program = job.steps[job.next].program;
    if (crashed) {
        finish(id, program + QStringLiteral(" crashed"));
        return;
    }
    if (exitCode != 0) {
        QString error = program + QStringLiteral(" exit ") + QString::number(exitCode);
        const QString reason = lastLine(process->readAllStandardError());
        if (!reason.isEmpty()) error += QStringLiteral(": ") + reason;
        finish(id, error);
        return;
    }
    QString problem =
        responseProblem(job.steps[job.next].fetched, process->readAllStandardOutput());
    // Measured once more here: a small bomb can unpack between two checks of the watchdog.
    if (problem.isEmpty())
        problem = growthProblem(modelfiles::treeUse(job.staging, kMaxEntries), job.model);
    if (!problem.isEmpty()) {
        finish(id, problem);
        return;
    }
    ++job.next;
    Q_EMIT progress(qs(id), static_cast<int>(job.next), static_cast<int>(job.steps.size()));
    runNextStep(id);
}

void ModelStore::onStepFailedToStart(const std::string& id, QProcess* process) {
    process->deleteLater();
    auto found = jobs_.find(id);
    if (found == jobs_.end() || found->second->process != process) return;
    found->second->process = nullptr;
    finish(id, process->program() + QStringLiteral(": ") + process->errorString());
}

QString ModelStore::installStaged(Job& job) {
    std::error_code ec;
    if (job.model.isArchive()) {
        // Links are refused wherever they sit: one could make a model file stand for any file.
        if (const auto entry = modelfiles::firstNonPlainEntry(job.built.parent_path()))
            return QStringLiteral("the archive is refused: %1").arg(qs(*entry));
        if (!entryExists(job.built))
            return QStringLiteral("the archive has no folder %1").arg(qs(job.model.dirName));
    }
    if (const auto problem = modelfiles::folderProblem(job.built, job.model.files))
        return QStringLiteral("the download is not usable: %1").arg(qs(*problem));
    // On disk before the rename, so a crash cannot leave a model folder of empty files in place.
    if (!modelfiles::syncTree(job.built))
        return QStringLiteral("cannot write the model to disk in %1").arg(qs(job.staging));
    const fs::path destination = ModelCatalog::modelsDir() / job.model.dirName;
    // An earlier copy is moved aside (and removed with the staging folder) only once the new one
    // is complete; if the new one cannot take its place, the earlier copy goes back.
    const fs::path previous = job.staging / "previous";
    const bool hadPrevious = entryExists(destination);
    if (hadPrevious) {
        fs::rename(destination, previous, ec);
        if (ec)
            return QStringLiteral("cannot replace %1: %2").arg(qs(destination), qs(ec.message()));
    }
    fs::rename(job.built, destination, ec);
    if (ec) {
        const QString error = QStringLiteral("cannot move the model to %1: %2")
                                  .arg(qs(destination), qs(ec.message()));
        std::error_code ignored;
        if (hadPrevious) fs::rename(previous, destination, ignored);
        return error;
    }
    files::syncFolder(ModelCatalog::modelsDir());
    return {};
}

void ModelStore::stopStep(Job& job) {
    if (!job.process) return;
    job.process->disconnect(this);
    job.process->kill();
    // Dead before its folder is removed, so it cannot write anything back into it.
    job.process->waitForFinished(3000);
    job.process->deleteLater();
    job.process = nullptr;
}

void ModelStore::checkGrowth() {
    std::vector<std::pair<std::string, QString>> stopped;
    std::vector<std::pair<std::string, qint64>> grown;
    for (auto& [id, job] : jobs_) {
        if (job->staging.empty()) continue;
        const modelfiles::TreeUse use = modelfiles::treeUse(job->staging, kMaxEntries);
        if (QString problem = growthProblem(use, job->model); !problem.isEmpty()) {
            stopStep(*job);
            stopped.emplace_back(id, problem);
        } else if (use.bytes != job->bytes) {
            job->bytes = use.bytes;
            grown.emplace_back(id, static_cast<qint64>(use.bytes));
        }
    }
    // Told after the walk over jobs_: a listener may cancel a download.
    for (const auto& [id, problem] : stopped) finish(id, problem);
    for (const auto& [id, bytes] : grown) {
        if (isDownloading(id)) Q_EMIT received(qs(id), bytes);
    }
}

bool ModelStore::cancel(const std::string& id) {
    const auto found = jobs_.find(id);
    if (found == jobs_.end()) return false;
    stopStep(*found->second);
    finish(id, QStringLiteral("cancelled"), true);
    return true;
}

void ModelStore::finish(const std::string& id, const QString& error, bool cancelled) {
    auto found = jobs_.find(id);
    if (found == jobs_.end()) return;
    std::unique_ptr<Job> job = std::move(found->second);
    jobs_.erase(found);
    if (jobs_.empty()) watchdog_->stop();
    if (!job->staging.empty()) modelfiles::removeTree(job->staging);

    const bool ok = error.isEmpty();
    if (ok) {
        Log::info("модель " + id + " скачана");
        Q_EMIT changed();
    } else if (cancelled) {
        Log::info("скачивание " + id + " отменено");
    } else {
        Log::error("скачивание " + id + " неудачно: " + error.toStdString());
    }
    Q_EMIT downloadingChanged();
    Q_EMIT downloadFinished(qs(id), ok, error);
}

bool ModelStore::remove(const STTModel& model) {
    if (isDownloading(model.id)) return false;
    const std::optional<fs::path> folder = catalog_.removableDirectory(model);
    if (!folder) return false;
    // Moved out of sight first, so the model stops counting as installed in one step even if
    // deleting its files takes a while or fails half-way.
    QString error;
    const std::optional<fs::path> trash = makeStagingDir(model.dirName, error);
    std::error_code ec;
    if (trash) fs::rename(*folder, *trash / "removed", ec);
    if (!trash || ec) {
        if (trash) {
            error = qs(ec.message());
            modelfiles::removeTree(*trash);
        }
        Log::error("удаление модели " + model.id + " неудачно: " + error.toStdString());
        return false;
    }
    modelfiles::removeTree(*trash);  // a leftover is hidden and cleared by the next download
    Log::info("модель " + model.id + " удалена");
    Q_EMIT changed();
    return true;
}

}  // namespace quorvel
