#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests of network clients (language-model requests,
// downloads). It runs in the test's own event loop, records every request and answers each path
// with scripted responses: any status and bytes, a delay before answering, a body delivered in
// timed chunks, or a connection cut after some body bytes. One request per connection
// ("Connection: close"); request bodies are read by Content-Length (no chunked uploads).

#include <QTcpServer>

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class QTcpSocket;

namespace quorvel::testing {

struct HttpRequest {
    std::string method;
    std::string target;  // as sent, query included
    std::string path;    // target without the query
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    std::string header(const std::string& lowerCaseName) const;
};

struct HttpResponse {
    int status = 200;
    std::string body{};
    // Extra headers; Connection (and, unless told otherwise below, Content-Length) are added.
    std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "application/json"}};
    // Content-Length states the body's true size, unless `announcedLength` replaces it (a lying
    // server) or `announceLength` is false (the body then ends when the connection closes).
    bool announceLength = true;
    std::optional<size_t> announcedLength{};
    // The body goes out with chunked transfer coding, whatever Content-Length says.
    bool chunked = false;
    std::chrono::milliseconds delay{0};  // before anything is sent
    // Close the connection after this many body bytes (Content-Length still announces all).
    std::optional<size_t> cutAfter{};
    // When chunkSize > 0 the body goes out in pieces of that size, chunkInterval apart.
    size_t chunkSize = 0;
    std::chrono::milliseconds chunkInterval{0};
    // Never answer; the connection stays open until the client gives up.
    bool hang = false;
};

class LoopbackHttpServer {
public:
    // Listens on 127.0.0.1 at a free port; unknown paths get 404.
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool isListening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    // "http://127.0.0.1:<port>" followed by `path` (which should start with "/").
    std::string url(std::string_view path) const;

    // Every request for `path` (any method) gets `response` from now on.
    void serve(const std::string& path, HttpResponse response);
    // Requests for `path` get these responses in turn; the last one repeats.
    void serve(const std::string& path, std::vector<HttpResponse> responses);
    // Stops listening; connections already open are still answered.
    void close() { server_.close(); }

    const std::vector<HttpRequest>& requests() const { return requests_; }

private:
    void accept();
    void read(QTcpSocket* socket);
    HttpResponse next(const std::string& path);
    void answer(QTcpSocket* socket, const HttpResponse& response);
    void sendBody(QTcpSocket* socket, std::string body, const HttpResponse& response);

    std::vector<HttpRequest> requests_;
    std::map<std::string, std::deque<HttpResponse>> routes_;
    std::unordered_map<QTcpSocket*, std::string> buffers_;
    QTcpServer server_;  // last: its sockets go before the state their handlers use
};

}  // namespace quorvel::testing
