#include "e2e/feed_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace dovetrel::e2e {

FeedServer::FeedServer(int port, int status, std::string body, bool announceLength,
                       std::string head)
    : status_(status),
      body_(std::move(body)),
      announceLength_(announceLength),
      head_(std::move(head)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    thread_ = std::thread([this] { serve(); });
}

FeedServer::~FeedServer() {
    stopping_ = true;
    thread_.join();
    close(listener_);
}

void FeedServer::serve() {
    while (!stopping_) {
        pollfd readable{listener_, POLLIN, 0};
        if (poll(&readable, 1, 50) <= 0) {
            continue;
        }
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        // Read the request head; its details do not matter here.
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd incoming{connection, POLLIN, 0};
            if (poll(&incoming, 1, 2000) <= 0) {
                break;
            }
            const ssize_t got = read(connection, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<size_t>(got));
        }
        ++requests_;
        // A small send buffer, so that what was sent is close to what the client took in.
        const int sendBuffer = 16 * 1024;
        setsockopt(connection, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        const std::string head =
            "HTTP/1.1 " + std::to_string(status_) + " Feed\r\nContent-Type: application/json\r\n" +
            (announceLength_ ? "Content-Length: " + std::to_string(body_.size()) + "\r\n" : "") +
            head_ + "Connection: close\r\n\r\n";
        const std::string response = head + body_;
        size_t sent = 0;
        while (sent < response.size() && !stopping_) {
            // A client that stops reading without hanging up must not hold the server for ever.
            pollfd writable{connection, POLLOUT, 0};
            if (poll(&writable, 1, 5000) <= 0) {
                break;
            }
            const ssize_t wrote =
                send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (wrote <= 0) {
                break;
            }
            sent += static_cast<size_t>(wrote);
            bytesSent_ += static_cast<size_t>(wrote);
        }
        close(connection);
        ++answered_;
    }
}

}  // namespace dovetrel::e2e
