#include "app/x11/input/guard_mailbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

namespace dovetrel::app {

GuardMailbox::GuardMailbox() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

GuardMailbox::~GuardMailbox() {
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void GuardMailbox::publish(Judgement judgement) {
    MutexLock lock(judgementMutex_);
    judgement_ = std::move(judgement);
}

void GuardMailbox::requestGrabs(bool wanted) {
    MutexLock lock(requestMutex_);
    wantGrabs_ = wanted;
    const uint64_t serial = ++requestSerial_;
    wake();
    while (servedSerial_ < serial && !threadEnded_) {
        servedChanged_.wait(requestMutex_);
    }
}

void GuardMailbox::requestEnd() {
    {
        MutexLock lock(requestMutex_);
        endRequested_ = true;
    }
    wake();
}

void GuardMailbox::wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
}

void GuardMailbox::takeWakeUp() const {
    uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
}

GuardMailbox::Request GuardMailbox::request() const {
    MutexLock lock(requestMutex_);
    return {wantGrabs_ && !endRequested_, endRequested_, requestSerial_};
}

void GuardMailbox::served(uint64_t serial) {
    MutexLock lock(requestMutex_);
    servedSerial_ = serial;
    servedChanged_.notify_all();
}

void GuardMailbox::ended() {
    MutexLock lock(requestMutex_);
    threadEnded_ = true;
    servedChanged_.notify_all();
}

std::optional<Judgement> GuardMailbox::judgement() const {
    MutexLock lock(judgementMutex_);
    return judgement_;
}

}  // namespace dovetrel::app
