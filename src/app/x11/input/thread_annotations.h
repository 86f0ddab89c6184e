// Who may touch what between threads, checked by the compiler: Clang's thread-safety analysis
// (-Wthread-safety) on a mutex that names itself a capability, in the manner of abseil's
// thread_annotations.h. Other compilers see plain code.
#pragma once

#include <cassert>
#include <mutex>
#include <thread>

#if defined(__clang__)
#define DOVETREL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DOVETREL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) DOVETREL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY DOVETREL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) DOVETREL_THREAD_ANNOTATION(guarded_by(x))
#define ACQUIRE(...) DOVETREL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) DOVETREL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define REQUIRES(...) DOVETREL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) DOVETREL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

namespace dovetrel::app {

class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

  private:
    std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& mutex_;
};

// Remembers the thread that made it, so that methods meant for that thread alone can say so
// (DCHECK_CALLED_ON_THREAD) and a debug build stops at the first call from anywhere else.
class ThreadChecker {
  public:
    bool calledOnValidThread() const { return std::this_thread::get_id() == owner_; }

  private:
    std::thread::id owner_ = std::this_thread::get_id();
};

#define DCHECK_CALLED_ON_THREAD(checker) assert((checker).calledOnValidThread())

}  // namespace dovetrel::app
