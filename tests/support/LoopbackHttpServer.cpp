#include "support/LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace quorvel::testing {
namespace {

// The request line and headers of `head` (without the blank line); the clients under test send
// well-formed requests, and anything else finds no route.
HttpRequest parseHead(const QByteArray& head) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    HttpRequest request;
    request.method = requestLine.value(0).toStdString();
    request.target = requestLine.value(1).toStdString();
    request.path = request.target.substr(0, request.target.find('?'));
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers[line.left(colon).toLower().toStdString()] =
                line.mid(colon + 1).trimmed().toStdString();
    }
    return request;
}

}  // namespace

std::string HttpRequest::header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

LoopbackHttpServer::LoopbackHttpServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
    server_.listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::~LoopbackHttpServer() {
    server_.close();
    // The sockets die with the server; their handlers must not run into a half-destroyed object.
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) QObject::disconnect(socket, nullptr, nullptr, nullptr);
}

std::string LoopbackHttpServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(path);
}

void LoopbackHttpServer::serve(const std::string& path, HttpResponse response) {
    serve(path, std::vector<HttpResponse>{std::move(response)});
}

void LoopbackHttpServer::serve(const std::string& path, std::vector<HttpResponse> responses) {
    routes_[path] = std::deque<HttpResponse>(responses.begin(), responses.end());
}

void LoopbackHttpServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        buffers_[socket];
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
            buffers_.erase(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackHttpServer::read(QTcpSocket* socket) {
    const auto buffer = buffers_.find(socket);
    const QByteArray bytes = socket->readAll();
    if (buffer == buffers_.end()) return;  // already answered: the rest is ignored
    std::string& data = buffer->second;
    data.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    const size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string::npos) return;
    HttpRequest request = parseHead(QByteArray::fromStdString(data.substr(0, headEnd)));
    const size_t length = QByteArray::fromStdString(request.header("content-length")).toULongLong();
    if (data.size() < headEnd + 4 + length) return;
    request.body = data.substr(headEnd + 4, length);
    buffers_.erase(buffer);
    requests_.push_back(request);
    answer(socket, next(request.path));
}

HttpResponse LoopbackHttpServer::next(const std::string& path) {
    const auto route = routes_.find(path);
    if (route == routes_.end() || route->second.empty())
        return {.status = 404, .body = "not found", .headers = {{"Content-Type", "text/plain"}}};
    HttpResponse response = route->second.front();
    if (route->second.size() > 1) route->second.pop_front();
    return response;
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const HttpResponse& response) {
    if (response.hang) return;
    if (response.delay.count() > 0) {
        HttpResponse undelayed = response;
        undelayed.delay = {};
        // The socket is the context: a client that hung up meanwhile cancels the answer.
        QTimer::singleShot(response.delay, socket,
                           [this, socket, undelayed] { answer(socket, undelayed); });
        return;
    }
    // Clients go by the status code; the reason phrase may be any text.
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Scripted\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    if (response.announceLength)
        head += "Content-Length: " + std::to_string(response.announcedLength.value_or(response.body.size())) + "\r\n";
    if (response.chunked) head += "Transfer-Encoding: chunked\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head.data(), static_cast<qint64>(head.size()));
    std::string body = response.body;
    if (response.chunked) {  // one chunk and, after a non-empty one, the closing empty chunk
        const QByteArray size = QByteArray::number(qulonglong(body.size()), 16);
        body = size.toStdString() + "\r\n" + body + "\r\n" + (body.empty() ? "" : "0\r\n\r\n");
    }
    if (response.cutAfter && *response.cutAfter < body.size()) body.resize(*response.cutAfter);
    sendBody(socket, std::move(body), response);
}

void LoopbackHttpServer::sendBody(QTcpSocket* socket, std::string body, const HttpResponse& response) {
    const size_t piece = response.chunkSize > 0 ? std::min(response.chunkSize, body.size()) : body.size();
    socket->write(body.data(), static_cast<qint64>(piece));
    if (piece == body.size()) {
        socket->disconnectFromHost();  // after the buffered bytes are out
        return;
    }
    QTimer::singleShot(response.chunkInterval, socket,
                       [this, socket, rest = body.substr(piece), response] { sendBody(socket, rest, response); });
}

}  // namespace quorvel::testing
