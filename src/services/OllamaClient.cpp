#include "services/OllamaClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "services/MainDispatcher.h"

namespace quorvel::OllamaClient {
namespace {

QUrl toUrl(std::string_view url) {
    return QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())), QUrl::StrictMode);
}

// One manager for the whole program, living on the main thread so that every reply finishes
// there; it goes away with the application object.
QNetworkAccessManager& manager() {
    static QPointer<QNetworkAccessManager> shared;
    if (!shared) {
        shared = new QNetworkAccessManager(QCoreApplication::instance());
        // The server is on this machine: a proxy from the environment must not get in between.
        shared->setProxy(QNetworkProxy::NoProxy);
    }
    return *shared;
}

// The server's HTTP status is not ours to judge: its JSON says whether there is a result. Only
// failures below HTTP (connection, time-out, TLS, protocol) lose the answer.
bool isTransportError(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    const bool httpStatus = (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
    return error != QNetworkReply::NoError && !httpStatus;
}

void send(const QUrl& url, const std::optional<std::string>& payload, std::chrono::milliseconds timeout,
          AnswerHandler done) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    QElapsedTimer clock;
    clock.start();
    // A body that could not be encoded (e.g. text that is not UTF-8) goes out empty; the server
    // then answers with an error and the caller falls back.
    QNetworkReply* reply = manager().post(request, payload ? QByteArray::fromStdString(*payload) : QByteArray());

    // The deadline covers the whole exchange, so a server that trickles bytes cannot hold a
    // dictation longer than the time-out either.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);  // a coarse timer may fire a few per cent early
    QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(timeout);

    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, deadline, clock, done = std::move(done)] {
        deadline->stop();
        reply->deleteLater();
        Answer answer;
        answer.elapsedMs = clock.elapsed();
        if (!isTransportError(reply->error())) {
            const QByteArray data = reply->readAll();
            answer.response = responseOf(std::string_view(data.constData(), static_cast<size_t>(data.size())));
        }
        done(std::move(answer));
    });
}

}  // namespace

bool isUsableUrl(std::string_view url) {
    const QUrl parsed = toUrl(url);
    const QString scheme = parsed.scheme();
    return parsed.isValid() && !parsed.isRelative() && !parsed.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

json::Json generateBody(const std::string& model, const std::string& prompt) {
    json::Json options = json::Json::object();
    options["temperature"] = 0.0;
    options["num_predict"] = 512.0;
    json::Json body = json::Json::object();
    body["model"] = model;
    body["prompt"] = prompt;
    body["stream"] = false;
    body["think"] = false;
    body["options"] = std::move(options);
    return body;
}

std::optional<std::string> responseOf(std::string_view data) {
    const std::optional<json::Json> parsed = json::parse(data);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const auto member = parsed->find("response");
    if (member == parsed->end() || !member->is_string()) return std::nullopt;
    return member->get<std::string>();
}

bool generate(const std::string& url, const json::Json& body, std::chrono::milliseconds timeout,
              AnswerHandler done) {
    if (!isUsableUrl(url)) return false;
    // Requests are started from the main thread whoever asks, so the manager and every reply
    // stay on it; the hop also guarantees the answer never arrives inside the caller's call.
    MainDispatcher::dispatch([target = toUrl(url), payload = json::dump(body), timeout, done = std::move(done)]() mutable {
        send(target, payload, timeout, std::move(done));
    });
    return true;
}

}  // namespace quorvel::OllamaClient
