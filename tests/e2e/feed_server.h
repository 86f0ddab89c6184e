// A release feed on 127.0.0.1 for end-to-end tests: answers every GET with one response.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace dovetrel::e2e {

class FeedServer {
  public:
    // Listens on 127.0.0.1:`port`; throws when the port cannot be had. Without
    // `announceLength` the body's end is told only by closing the connection; `head` holds
    // further header lines, each ending in CRLF.
    FeedServer(int port, int status, std::string body, bool announceLength = true,
               std::string head = "");
    ~FeedServer();
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    int requests() const { return requests_.load(); }
    // Connections done with, whether the whole answer went out or the client hung up.
    int answered() const { return answered_.load(); }
    // Bytes of the answers that the client took before it hung up, over all connections.
    std::size_t bytesSent() const { return bytesSent_.load(); }

  private:
    void serve();

    int listener_ = -1;
    int status_;
    std::string body_;
    bool announceLength_;
    std::string head_;
    std::atomic<int> requests_{0};
    std::atomic<int> answered_{0};
    std::atomic<std::size_t> bytesSent_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace dovetrel::e2e
