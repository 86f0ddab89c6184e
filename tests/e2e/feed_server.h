// A release feed on 127.0.0.1 for end-to-end tests: answers every GET with one response.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace dovetrel::e2e {

class FeedServer {
  public:
    // Listens on 127.0.0.1:`port`; throws when the port cannot be had.
    FeedServer(int port, int status, std::string body);
    ~FeedServer();
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    int requests() const { return requests_.load(); }

  private:
    void serve();

    int listener_ = -1;
    int status_;
    std::string body_;
    std::atomic<int> requests_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace dovetrel::e2e
