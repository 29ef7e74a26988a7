#include "support/LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quorvel::testing {
namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// Parses the request line and headers of `head` (without the blank line) into `request`; the
// clients under test send well-formed requests, and anything else finds no route.
void parseHead(std::string_view head, HttpRequest& request) {
    size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const size_t firstSpace = requestLine.find(' ');
    const size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    request.path = request.target.substr(0, request.target.find('?'));
    while (lineEnd != std::string_view::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line = head.substr(start, lineEnd == std::string_view::npos ? head.npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        request.headers[lowerCase(std::string(line.substr(0, colon)))] = trimmed(line.substr(colon + 1));
    }
}

// `body` as one chunk and the closing empty chunk.
std::string chunkedCoding(const std::string& body) {
    char size[32];
    const auto end = std::to_chars(size, size + sizeof size, body.size(), 16).ptr;
    std::string coded(size, end);
    coded += "\r\n" + body + "\r\n";
    if (!body.empty()) coded += "0\r\n\r\n";
    return coded;
}

size_t contentLength(const HttpRequest& request) {
    const std::string value = request.header("content-length");
    size_t length = 0;
    std::from_chars(value.data(), value.data() + value.size(), length);
    return length;
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
    HttpRequest request;
    parseHead(std::string_view(data).substr(0, headEnd), request);
    const size_t length = contentLength(request);
    if (data.size() < headEnd + 4 + length) return;
    request.body = data.substr(headEnd + 4, length);
    buffers_.erase(buffer);
    requests_.push_back(request);
    answer(socket, request, next(request.path));
}

HttpResponse LoopbackHttpServer::next(const std::string& path) {
    const auto route = routes_.find(path);
    if (route == routes_.end() || route->second.empty()) {
        HttpResponse missing;
        missing.status = 404;
        missing.body = "not found";
        missing.headers = {{"Content-Type", "text/plain"}};
        return missing;
    }
    HttpResponse response = route->second.front();
    if (route->second.size() > 1) route->second.pop_front();
    return response;
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const HttpRequest& request, const HttpResponse& response) {
    if (response.hang) return;
    if (response.delay.count() > 0) {
        const HttpResponse undelayed = [&] {
            HttpResponse copy = response;
            copy.delay = std::chrono::milliseconds(0);
            return copy;
        }();
        // The socket is the context: a client that hung up meanwhile cancels the answer.
        QTimer::singleShot(response.delay, socket, [this, socket, request, undelayed] { answer(socket, request, undelayed); });
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
    std::string body = request.method == "HEAD" ? std::string() : response.body;
    if (response.chunked) body = chunkedCoding(body);
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
