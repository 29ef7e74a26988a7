// The test HTTP server itself, through Qt's HTTP client: what other tests rely on when they
// script answers (bytes at a path, status sequences, cut connections, slow bodies, silence).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTest>
#include <memory>

#include "support/LoopbackHttpServer.h"

namespace quorvel::testing {
namespace {

using namespace std::chrono_literals;

struct Fetched {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    std::string body;
    std::string contentLength;
};

class LoopbackHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.isListening());
        manager_.setProxy(QNetworkProxy::NoProxy);
    }

    Fetched fetch(const std::string& path, const QByteArray& verb = "GET", const QByteArray& body = {},
                  int transferTimeoutMs = 0) {
        QNetworkRequest request(QUrl(QString::fromStdString(server_.url(path))));
        if (transferTimeoutMs > 0) request.setTransferTimeout(transferTimeoutMs);
        std::unique_ptr<QNetworkReply> reply(manager_.sendCustomRequest(request, verb, body));
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, 10000));
        const QByteArray data = reply->readAll();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->error(),
                data.toStdString(), reply->rawHeader("Content-Length").toStdString()};
    }

    LoopbackHttpServer server_;
    QNetworkAccessManager manager_;
};

TEST_F(LoopbackHttpServerTest, ServesBytesAndRecordsEachRequest) {
    std::string bytes(70000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 % 256);
    HttpResponse file;
    file.body = bytes;
    file.headers = {{"Content-Type", "application/octet-stream"}, {"X-Test", "yes"}};
    server_.serve("/models/a.onnx", file);

    const Fetched got = fetch("/models/a.onnx?v=2", "POST", "payload");
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, bytes);
    const Fetched missing = fetch("/elsewhere");
    EXPECT_EQ(missing.status, 404);

    ASSERT_EQ(server_.requests().size(), 2u);
    const HttpRequest& first = server_.requests()[0];
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.target, "/models/a.onnx?v=2");
    EXPECT_EQ(first.path, "/models/a.onnx");
    EXPECT_EQ(first.body, "payload");
    EXPECT_EQ(first.header("content-length"), "7");
    EXPECT_EQ(server_.requests()[1].method, "GET");
}

TEST_F(LoopbackHttpServerTest, AnswersInTurnAndRepeatsTheLast) {
    HttpResponse busy;
    busy.status = 503;
    busy.body = "busy";
    HttpResponse ok;
    ok.body = "ready";
    server_.serve("/x", std::vector<HttpResponse>{busy, ok});
    EXPECT_EQ(fetch("/x").status, 503);
    EXPECT_EQ(fetch("/x").body, "ready");
    EXPECT_EQ(fetch("/x").body, "ready");
}

TEST_F(LoopbackHttpServerTest, HeadAnnouncesTheLengthWithoutTheBody) {
    HttpResponse file;
    file.body = std::string(1234, 'x');
    server_.serve("/f", file);
    const Fetched got = fetch("/f", "HEAD");
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.contentLength, "1234");
    EXPECT_TRUE(got.body.empty());
}

TEST_F(LoopbackHttpServerTest, CutsTheConnectionAfterTheGivenBodyBytes) {
    HttpResponse cut;
    cut.body = std::string(5000, 'y');
    cut.cutAfter = 1000;
    server_.serve("/f", cut);
    const Fetched got = fetch("/f");
    EXPECT_NE(got.error, QNetworkReply::NoError) << "a short body is a failed transfer";
    EXPECT_EQ(got.contentLength, "5000");
    EXPECT_LE(got.body.size(), 1000u);
}

TEST_F(LoopbackHttpServerTest, DelaysAndTricklesTheAnswer) {
    HttpResponse slow;
    slow.body = "abcdef";
    slow.delay = 150ms;
    slow.chunkSize = 2;
    slow.chunkInterval = 100ms;
    server_.serve("/f", slow);
    QElapsedTimer clock;
    clock.start();
    const Fetched got = fetch("/f");
    EXPECT_EQ(got.body, "abcdef");
    EXPECT_GE(clock.elapsed(), 150 + 2 * 100);
}

TEST_F(LoopbackHttpServerTest, AHangingAnswerLeavesTheClientToGiveUp) {
    HttpResponse silent;
    silent.hang = true;
    server_.serve("/f", silent);
    const Fetched got = fetch("/f", "GET", {}, 200);
    EXPECT_EQ(got.error, QNetworkReply::OperationCanceledError);
    EXPECT_EQ(server_.requests().size(), 1u);
}

}  // namespace
}  // namespace quorvel::testing
