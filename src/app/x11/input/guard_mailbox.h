// All that the main thread and the guard thread share: what presses are judged by, the grabs
// the main thread wants, and how far the guard thread got. Everything else belongs to one of
// the two threads alone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <optional>

#include "app/x11/input/press_location.h"
#include "app/x11/input/thread_annotations.h"

namespace dovetrel::app {

class GuardMailbox {
  public:
    GuardMailbox();
    ~GuardMailbox();
    GuardMailbox(const GuardMailbox&) = delete;
    GuardMailbox& operator=(const GuardMailbox&) = delete;

    // False when the wake-up descriptor could not be made.
    bool isOpen() const { return wakeFd_ >= 0; }

    // --- main thread

    void publish(Judgement judgement) EXCLUDES(judgementMutex_);
    // Presses are judged only while this is on. It goes off before the grabs go, so that a
    // press caught in between passes.
    void setJudging(bool judging) { judging_ = judging; }
    // Asks for the grabs on or off and waits until the guard thread has them so (one round
    // trip to the server), or has ended.
    void requestGrabs(bool wanted) EXCLUDES(requestMutex_);
    // Asks the guard thread to end; it lets go of the grabs first.
    void requestEnd() EXCLUDES(requestMutex_);

    // --- guard thread

    struct Request {
        bool wantGrabs = false;
        bool end = false;
        uint64_t serial = 0;
    };
    // Readable whenever there is a new request.
    int wakeFd() const { return wakeFd_; }
    void takeWakeUp() const;
    Request request() const EXCLUDES(requestMutex_);
    // The request of `serial` (and every one before it) is carried out.
    void served(uint64_t serial) EXCLUDES(requestMutex_);
    // The thread has ended: no request will be served any more.
    void ended() EXCLUDES(requestMutex_);
    std::optional<Judgement> judgement() const EXCLUDES(judgementMutex_);
    bool isJudging() const { return judging_; }
    void connectionLost() { healthy_ = false; }

    // --- either

    // False once the guard thread's connection to the server is lost.
    bool isHealthy() const { return healthy_; }

  private:
    void wake() const;

    int wakeFd_ = -1;
    std::atomic<bool> judging_{false};
    std::atomic<bool> healthy_{true};

    // Held only for a copy, so that the guard thread never waits long on it for a press.
    mutable Mutex judgementMutex_;
    std::optional<Judgement> judgement_ GUARDED_BY(judgementMutex_);

    mutable Mutex requestMutex_;
    std::condition_variable_any servedChanged_;
    bool wantGrabs_ GUARDED_BY(requestMutex_) = false;
    bool endRequested_ GUARDED_BY(requestMutex_) = false;
    uint64_t requestSerial_ GUARDED_BY(requestMutex_) = 0;
    uint64_t servedSerial_ GUARDED_BY(requestMutex_) = 0;
    bool threadEnded_ GUARDED_BY(requestMutex_) = false;
};

}  // namespace dovetrel::app
