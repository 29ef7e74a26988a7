// ModelStore against a real loopback HTTP server, with the real curl and tar.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/ModelCatalog.h"
#include "services/Log.h"
#include "services/ModelStore.h"
#include "support/LoopbackHttpServer.h"
#include "support/ModelFixtures.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::HttpResponse;
using testing::modelFileContent;
using testing::onnxModel;
using testing::tokenList;
using Names = std::vector<std::string>;

// An unknown id throws, which fails the test.
STTModel catalogEntry(const std::string& id) { return ModelCatalog::model(id).value(); }

// The server path a catalog URL maps to once the store fetches through the test's mirror.
std::string remotePath(const STTModel& model, const std::string& file = {}) {
    std::string url = *model.downloadURL;
    if (!model.isArchive()) url += "/" + file;
    return QUrl(QString::fromStdString(url)).path(QUrl::FullyEncoded).toStdString();
}

HttpResponse bytes(std::string body, int status = 200) {
    return {.status = status, .body = std::move(body)};
}

Names entriesOf(const fs::path& dir) {
    Names names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ModelStoreTest : public testing::TempHome {
  protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_TRUE(server.isListening());
        Log::setFile(home() / "log.txt");
        makeStore();
    }
    void TearDown() override {
        store.reset();
        Log::flush();
        TempHome::TearDown();
    }

    void makeStore(const QString& curlPath = QStringLiteral("/usr/bin/curl")) {
        const ModelStore::Options options{.mirror = QString::fromStdString(server.url("")),
                                          .curlPath = curlPath,
                                          .retries = 0,
                                          .connectTimeoutSeconds = 5,
                                          .stallSeconds = 5};
        store.reset();
        store = std::make_unique<ModelStore>(ModelCatalog(systemDir()), options);
        finished = std::make_unique<QSignalSpy>(store.get(), &ModelStore::downloadFinished);
        changed = std::make_unique<QSignalSpy>(store.get(), &ModelStore::changed);
    }

    fs::path systemDir() const { return home() / "system" / "en-us"; }
    fs::path modelsDir() const { return home() / "quorvelkit" / "Models"; }

    // Waits for `count` finished downloads; returns whether the last one succeeded.
    bool waitForFinished(int count = 1) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished->count() >= count; }, 30000));
        return finished->count() >= count && finished->at(count - 1).at(1).toBool();
    }
    std::string lastError() const { return finished->isEmpty() ? "" : finished->last().at(2).toString().toStdString(); }

    fs::path archiveSource() const { return home() / "archive-source"; }

    // A real .tar.bz2 whose top folder is `top`, holding `files` (name → content).
    std::string makeArchive(const std::string& top, const std::vector<std::pair<std::string, std::string>>& files) {
        fs::remove_all(archiveSource());
        for (const auto& [name, content] : files) writeFile(archiveSource() / top / name, content);
        return packArchive(top);
    }
    // The .tar.bz2 of what archiveSource() holds under `top`, as tar stores it (links as links).
    std::string packArchive(const std::string& top) {
        const fs::path archive = home() / "model.tar.bz2";
        EXPECT_EQ(QProcess::execute("/usr/bin/tar", {"-cjf", QString::fromStdString(archive.string()), "-C",
                                                     QString::fromStdString(archiveSource().string()),
                                                     QString::fromStdString(top)}),
                  0);
        return readFile(archive);
    }

    void servePerFile(const STTModel& model) {
        for (const std::string& file : model.files) server.serve(remotePath(model, file), bytes(modelFileContent(file)));
    }

    testing::LoopbackHttpServer server;
    std::unique_ptr<ModelStore> store;
    std::unique_ptr<QSignalSpy> finished;
    std::unique_ptr<QSignalSpy> changed;
};

TEST_F(ModelStoreTest, PerFileDownloadInstallsEveryFileAndFollowsRedirects) {
    const STTModel giga = catalogEntry("gigaam-v2-ru");
    servePerFile(giga);
    // The encoder comes from elsewhere, as a hosting site's download does.
    server.serve(
        remotePath(giga, "encoder.int8.onnx"),
        HttpResponse{.status = 302, .headers = {{"Location", server.url("/cdn/encoder")}}});
    server.serve("/cdn/encoder", bytes(onnxModel(5000)));
    QSignalSpy downloadingChanged(store.get(), &ModelStore::downloadingChanged);
    QSignalSpy progress(store.get(), &ModelStore::progress);

    ASSERT_TRUE(store->download(giga));
    EXPECT_TRUE(store->isDownloading("gigaam-v2-ru"));
    EXPECT_EQ(downloadingChanged.count(), 1);
    EXPECT_EQ(finished->count(), 0) << "completion never comes from inside download()";

    ASSERT_TRUE(waitForFinished()) << lastError();
    EXPECT_FALSE(store->isDownloading("gigaam-v2-ru"));
    EXPECT_EQ(downloadingChanged.count(), 2);
    EXPECT_EQ(changed->count(), 1);
    ASSERT_EQ(progress.count(), 4);
    EXPECT_EQ(progress.last().at(1).toInt(), 4);
    EXPECT_EQ(progress.last().at(2).toInt(), 4);

    const fs::path dir = modelsDir() / giga.dirName;
    EXPECT_EQ(store->catalog().directory(giga), dir);
    EXPECT_EQ(readFile(dir / "encoder.int8.onnx"), onnxModel(5000));
    EXPECT_EQ(readFile(dir / "tokens.txt"), tokenList());
    EXPECT_EQ(entriesOf(dir), (Names{"decoder.onnx", "encoder.int8.onnx", "joiner.onnx", "tokens.txt"}));
    EXPECT_EQ(entriesOf(modelsDir()), Names{giga.dirName}) << "no staging folder left";

    // Once finished, the same model may be fetched again and replaces the copy; while it runs, a
    // second request for it is refused and another model downloads alongside.
    const STTModel turbo = catalogEntry("whisper-large-v3-turbo");
    servePerFile(turbo);
    server.serve(remotePath(giga, "tokens.txt"), bytes("new 0\n"));
    const size_t asked = server.requests().size();
    ASSERT_TRUE(store->download(giga));
    EXPECT_FALSE(store->download(giga)) << "it runs until the event loop hears it finish";
    EXPECT_TRUE(store->download(turbo));
    EXPECT_EQ(store->downloading(), (std::set<std::string>{"gigaam-v2-ru", "whisper-large-v3-turbo"}));
    ASSERT_TRUE(waitForFinished(3)) << lastError();
    EXPECT_TRUE(finished->at(1).at(1).toBool()) << finished->at(1).at(2).toString().toStdString();
    EXPECT_TRUE(store->downloading().empty());
    EXPECT_EQ(server.requests().size(), asked + giga.files.size() + 1 + turbo.files.size())
        << "each file asked for once (and the redirect)";
    EXPECT_EQ(readFile(dir / "tokens.txt"), "new 0\n");
    EXPECT_TRUE(store->catalog().isDownloaded(turbo));
}

TEST_F(ModelStoreTest, MissingFileFailsTheDownloadKeepsTheInstalledCopyAndClearsStaleStaging) {
    const STTModel giga = catalogEntry("gigaam-v2-ru");
    servePerFile(giga);
    server.serve(remotePath(giga, "joiner.onnx"), bytes("<html>not here</html>", 404));
    writeFile(modelsDir() / giga.dirName / "tokens.txt", "old 0");
    writeFile(modelsDir() / ("." + giga.dirName + ".tmp-OLD123") / "model" / "encoder.int8.onnx", "left by a killed program");

    ASSERT_TRUE(store->download(giga));
    EXPECT_FALSE(waitForFinished());
    EXPECT_TRUE(lastError().starts_with("/usr/bin/curl exit 22")) << lastError();
    EXPECT_EQ(readFile(modelsDir() / giga.dirName / "tokens.txt"), "old 0");
    EXPECT_EQ(entriesOf(modelsDir() / giga.dirName), Names{"tokens.txt"});
    EXPECT_EQ(entriesOf(modelsDir()), Names{giga.dirName});
    EXPECT_EQ(changed->count(), 0);
    EXPECT_FALSE(store->isDownloading(giga.id));

    // The first failing file ends the download: tokens.txt is never asked for.
    Names asked;
    for (const auto& request : server.requests()) asked.push_back(request.path);
    EXPECT_EQ(asked, (Names{remotePath(giga, "encoder.int8.onnx"), remotePath(giga, "decoder.onnx"),
                            remotePath(giga, "joiner.onnx")}));
}

TEST_F(ModelStoreTest, OnlyWholeGenuineDownloadsWithoutLinksInstall) {
    const STTModel small = catalogEntry("whisper-small-multi");
    const STTModel giga = catalogEntry("gigaam-v2-ru");
    const auto files = std::vector<std::pair<std::string, std::string>>{
        {"small-encoder.int8.onnx", onnxModel(200000)}, {"small-decoder.int8.onnx", onnxModel()},
        {"small-tokens.txt", tokenList()}, {"test_wavs/0.wav", "RIFF"}};
    // Archives may bring folders without write permission; they must still be removable.
    const auto packReadOnly = [&](const fs::path& folder) {
        fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
        const std::string packed = packArchive(small.dirName);
        fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
        return packed;
    };
    makeArchive(small.dirName, files);
    const std::string archive = packReadOnly(archiveSource() / small.dirName / "test_wavs");
    const fs::path secret = writeFile(home() / "private" / "notes.txt", "the user's own file");
    const fs::path outside = home() / "outside" / small.dirName;
    for (const auto& [name, content] : files) writeFile(outside / name, content);

    // Archives that bring links: to a user's file, as the model's folder, and between members.
    const fs::path top = archiveSource() / small.dirName;
    makeArchive(small.dirName, files);
    fs::remove(top / "small-tokens.txt");
    fs::create_symlink(secret, top / "small-tokens.txt");
    const std::string linkedFile = packArchive(small.dirName);
    fs::remove_all(top);
    fs::create_symlink(outside, top);
    const std::string linkedFolder = packArchive(small.dirName);
    makeArchive(small.dirName, files);
    fs::create_hard_link(top / "small-tokens.txt", top / "test_wavs" / "tokens-again.txt");
    const std::string hardLinked = packReadOnly(top / "test_wavs");
    // Bombs: a few hundred bytes that unpack to far more than the model's size, or to many files.
    STTModel tiny = small;
    tiny.sizeMB = 0;
    makeArchive(small.dirName, files);
    fs::resize_file(writeFile(top / "test_wavs" / "zeros.wav", ""), 72 << 20);
    const std::string bomb = packArchive(small.dirName);
    makeArchive(small.dirName, files);
    for (int i = 0; i <= 2000; ++i) writeFile(top / "test_wavs" / std::to_string(i), "");
    const std::string manyFiles = packArchive(small.dirName);

    HttpResponse cut{.body = archive, .cutAfter = archive.size() / 2};
    HttpResponse tenBytesNoLength{.body = onnxModel(), .announceLength = false, .cutAfter = 10};
    HttpResponse wrongLength{.body = onnxModel(), .announcedLength = 100000, .chunked = true};
    HttpResponse errorPage =
        bytes("<!DOCTYPE html><html><body>Sign in to continue</body></html>\n");
    struct Case {
        STTModel model;
        std::string path;       // served with `response`; every other file is served whole
        HttpResponse response;
        std::string error;      // what the failure says
    };
    const std::vector<Case> cases = {
        {small, remotePath(small), cut, "/usr/bin/curl exit 18"},
        {small, remotePath(small), bytes(makeArchive(small.dirName, {files[0]})),
         "the download is not usable: small-decoder.int8.onnx is missing"},
        {small, remotePath(small), bytes(makeArchive("other-top", files)),
         "the archive has no folder sherpa-onnx-whisper-small"},
        {small, remotePath(small), bytes(linkedFile),
         "the archive is refused: sherpa-onnx-whisper-small/small-tokens.txt is a link"},
        {small, remotePath(small), bytes(linkedFolder), "the archive is refused: sherpa-onnx-whisper-small is a link"},
        {small, remotePath(small), bytes(hardLinked), "is a hard link"},
        {tiny, remotePath(small), bytes(bomb), "the download grows past 64 MB"},
        {small, remotePath(small), bytes(manyFiles), "the download holds more than 2000 files"},
        {giga, remotePath(giga, "encoder.int8.onnx"), tenBytesNoLength,
         "the download is not usable: encoder.int8.onnx is cut short"},
        {giga, remotePath(giga, "encoder.int8.onnx"), errorPage,
         "the download is not usable: encoder.int8.onnx is not an ONNX model"},
        {giga, remotePath(giga, "tokens.txt"), errorPage, "the download is not usable: tokens.txt is not a token list"},
        {giga, remotePath(giga, "tokens.txt"), bytes(tokenList(), 302), "tokens.txt: the server answered 302"},
        {giga, remotePath(giga, "decoder.onnx"), wrongLength,
         "decoder.onnx: " + std::to_string(onnxModel().size()) + " bytes arrived, the server announced 100000"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.error);
        servePerFile(giga);
        server.serve(c.path, c.response);
        ASSERT_TRUE(store->download(c.model));
        EXPECT_FALSE(waitForFinished(int(i) + 1));
        EXPECT_NE(lastError().find(c.error), std::string::npos) << lastError();
        EXPECT_FALSE(store->catalog().isDownloaded(c.model));
        EXPECT_TRUE(entriesOf(modelsDir()).empty());
    }
    EXPECT_EQ(changed->count(), 0);
    EXPECT_EQ(readFile(secret), "the user's own file");

    server.serve(remotePath(small), bytes(archive));
    ASSERT_TRUE(store->download(small));
    ASSERT_TRUE(waitForFinished(int(cases.size()) + 1)) << lastError();
    const fs::path dir = modelsDir() / small.dirName;
    EXPECT_EQ(store->catalog().directory(small), dir);
    EXPECT_EQ(readFile(dir / "small-decoder.int8.onnx"), onnxModel());
    EXPECT_EQ(readFile(dir / "test_wavs" / "0.wav"), "RIFF");
    EXPECT_EQ(entriesOf(modelsDir()), Names{small.dirName}) << "the archive is gone";
    EXPECT_EQ(changed->count(), 1);
    EXPECT_TRUE(store->remove(small));
    EXPECT_TRUE(entriesOf(modelsDir()).empty());
}

TEST_F(ModelStoreTest, RefusesModelsItCannotFetchAndFailsCleanlyWhenCurlCannotStart) {
    QSignalSpy downloadingChanged(store.get(), &ModelStore::downloadingChanged);
    STTModel escaping = catalogEntry("gigaam-v2-ru"), badFile = escaping;
    escaping.dirName = "..";
    badFile.files = {"../../outside.txt"};
    for (const STTModel& model : {catalogEntry("parakeet-v3-en"), catalogEntry("pocketsphinx-en-us"), escaping, badFile})
        EXPECT_FALSE(store->download(model)) << model.id << " in " << model.dirName;
    EXPECT_EQ(downloadingChanged.count(), 0);
    EXPECT_TRUE(server.requests().empty());

    const QString noCurl = QString::fromStdString((home() / "no-such-curl").string());
    makeStore(noCurl);
    ASSERT_TRUE(store->download(catalogEntry("gigaam-v2-ru")));
    EXPECT_FALSE(waitForFinished());
    EXPECT_TRUE(lastError().starts_with(noCurl.toStdString())) << lastError();
    EXPECT_TRUE(entriesOf(modelsDir()).empty());
}

TEST_F(ModelStoreTest, RemovalFollowsTheRulesAndAStoreGoingAwayMidDownloadLeavesNoStaging) {
    const STTModel giga = catalogEntry("gigaam-v2-ru");
    const STTModel parakeet = catalogEntry("parakeet-v3-en");
    const STTModel sphinx = catalogEntry("pocketsphinx-en-us");
    const fs::path legacy = home() / "quorvel" / "models" / giga.dirName;
    for (const std::string& file : giga.files) writeFile(legacy / file, modelFileContent(file));
    writeFile(modelsDir() / parakeet.dirName / "tokens.txt", "p");
    writeFile(modelsDir() / sphinx.dirName / "en-us.lm.bin", "s");
    fs::create_directories(systemDir());

    EXPECT_FALSE(store->remove(giga)) << "a copy only in the legacy folder stays";
    EXPECT_FALSE(store->remove(parakeet));
    EXPECT_FALSE(store->remove(sphinx)) << "the built-in model is not removable";
    EXPECT_TRUE(fs::exists(legacy / "tokens.txt"));
    EXPECT_EQ(entriesOf(modelsDir()), (Names{sphinx.dirName, parakeet.dirName}));
    EXPECT_TRUE(fs::exists(systemDir()));
    EXPECT_EQ(changed->count(), 0);

    writeFile(modelsDir() / giga.dirName / "sub" / "tokens.txt", "own");
    EXPECT_TRUE(store->remove(giga));
    EXPECT_EQ(changed->count(), 1);
    EXPECT_EQ(store->catalog().directory(giga), legacy) << "the legacy copy is what is left";
    EXPECT_EQ(entriesOf(modelsDir()), (Names{sphinx.dirName, parakeet.dirName}));

    // Not while it downloads; a store that goes away mid-download takes its staging folder along.
    writeFile(modelsDir() / giga.dirName / "tokens.txt", "own");
    servePerFile(giga);
    server.serve(remotePath(giga, "decoder.onnx"), HttpResponse{.hang = true});
    ASSERT_TRUE(store->download(giga));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() == 2; }, 10000)) << "the encoder arrived";
    EXPECT_FALSE(store->remove(giga));
    store.reset();
    EXPECT_EQ(readFile(modelsDir() / giga.dirName / "tokens.txt"), "own");
    EXPECT_EQ(entriesOf(modelsDir()), (Names{sphinx.dirName, giga.dirName, parakeet.dirName}));
}

TEST_F(ModelStoreTest, CancelReportsWhatArrivedThenStopsAndRemovesIt) {
    const STTModel giga = catalogEntry("gigaam-v2-ru");
    servePerFile(giga);
    server.serve(remotePath(giga, "encoder.int8.onnx"), bytes(onnxModel(300000)));
    server.serve(remotePath(giga, "decoder.onnx"), HttpResponse{.hang = true});
    QSignalSpy received(store.get(), &ModelStore::received);

    ASSERT_TRUE(store->download(giga));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty() && received.last().at(1).toLongLong() >= 300000; },
                                10000))
        << "the fetched encoder is counted while the decoder hangs";
    EXPECT_EQ(received.last().at(0).toString(), "gigaam-v2-ru");
    EXPECT_TRUE(store->cancel(giga.id));
    EXPECT_FALSE(store->isDownloading(giga.id));
    EXPECT_FALSE(store->cancel(giga.id));
    ASSERT_EQ(finished->count(), 1);
    EXPECT_EQ(lastError(), "cancelled");
    EXPECT_TRUE(entriesOf(modelsDir()).empty()) << "the staging folder is gone";

    // Cancelled and started again before the first start ran: one run, each file asked for once.
    servePerFile(giga);
    ASSERT_TRUE(store->download(giga));
    EXPECT_TRUE(store->cancel(giga.id));
    ASSERT_TRUE(store->download(giga));
    ASSERT_TRUE(waitForFinished(3)) << lastError();
    const auto asked = [&](const std::string& file) {
        return std::count_if(server.requests().begin(), server.requests().end(),
                             [&](const auto& request) { return request.path == remotePath(giga, file); });
    };
    EXPECT_EQ(asked("encoder.int8.onnx"), 2) << "once by the cancelled run, once by the new one";
    EXPECT_EQ(asked("tokens.txt"), 1);
    EXPECT_TRUE(store->catalog().isDownloaded(giga));
    EXPECT_EQ(changed->count(), 1);
}

}  // namespace
}  // namespace quorvel
