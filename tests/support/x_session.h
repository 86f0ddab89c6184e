// A private X session for end-to-end tests: Xvfb with a window manager, the real dovetrel
// binary with its own settings folder, a client window that records the presses it gets,
// and XTest to inject input.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;
class QProcess;
class QTemporaryDir;

namespace dovetrel::support {

using namespace std::chrono_literals;

// Polls `condition` until it holds or `timeout` passes, running the Qt event loop meanwhile
// when there is an application; returns whether it held.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

// Makes the process's Qt application with `make` (given argc and argv that outlive it) unless
// there is one already.
void ensureApplication(const std::function<void(int& argc, char** argv)>& make);

// A child process, in a process group of its own, with its standard error kept in a file.
class ChildProcess {
  public:
    ChildProcess() = default;
    // `environment` holds KEY=value lines laid over the test's own; "KEY=" removes KEY.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;

    pid_t pid() const;
    bool isRunning();
    // The exit status, or 128 + signal; nullopt when it did not end within `timeout`.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = 5s);
    void signal(int number);
    std::string errorOutput() const;

  private:
    // Kills a process still running before it goes, which QProcess would complain about.
    struct Stop {
        void operator()(QProcess* process) const;
    };
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<QProcess, Stop> process_;
};

struct SessionOptions {
    bool windowManager = true;
    int width = 1280;
    int height = 800;
    // X screens of that size, each with its own root window (DISPLAY=:N.1 for the second).
    int screens = 1;
};

// Xvfb on a free display number, optionally with openbox, and a connection of the test's own.
class XSession {
  public:
    explicit XSession(SessionOptions options = {});
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    const std::string& displayName() const { return displayName_; }
    _XDisplay* display() const { return display_; }
    // KEY=value lines for a child that should run in this session.
    std::vector<std::string> environment() const;

  private:
    std::string displayName_;
    ChildProcess server_;
    ChildProcess windowManager_;
    std::unique_ptr<QTemporaryDir> runtimeDir_;
    _XDisplay* display_ = nullptr;
};

// The dovetrel binary running in `session` with a fresh settings folder holding `settings`
// (the text of dovetrel.conf; none when empty).
class Dovetrel {
  public:
    Dovetrel(XSession& session, const std::string& settings = "",
             const std::vector<std::string>& extraEnvironment = {},
             const std::string& binary = DOVETREL_BINARY);
    // The same in any session that `sessionEnvironment` (KEY=value lines) describes.
    Dovetrel(const std::vector<std::string>& sessionEnvironment, const std::string& settings,
             const std::vector<std::string>& extraEnvironment = {},
             const std::string& binary = DOVETREL_BINARY);
    ~Dovetrel();

    ChildProcess& process() { return process_; }
    std::string settingsPath() const;
    // What it said on standard error, which a test expects to be nothing unless it says.
    std::string unexpectedOutput() const { return process_.errorOutput(); }

  private:
    std::unique_ptr<QTemporaryDir> configHome_;
    ChildProcess process_;
};

// A plain top-level window that records the button presses and releases it receives.
class ClientWindow {
  public:
    ClientWindow(XSession& session, int x, int y, int width, int height);
    ~ClientWindow();

    unsigned long id() const { return window_; }
    // Reads what arrived; call before looking at the lists.
    void pump();
    // Waits until exactly these clicks have arrived, each press with its release, then
    // forgets them.
    bool receives(const std::vector<int>& buttons);
    std::vector<int> presses;  // button numbers, in order
    std::vector<int> releases;

  private:
    _XDisplay* display_;
    unsigned long window_;
};

// A monitor laid over the root window: `x`, `y`, `width`, `height` in root pixels.
struct MonitorLayout {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
};
// Replaces the server's monitors with `monitors` (RandR 1.5), as a multi-head desktop has.
void setMonitors(_XDisplay* display, const std::vector<MonitorLayout>& monitors);

// XTest input, flushed and synced.
void movePointer(_XDisplay* display, int x, int y);
void pressButton(_XDisplay* display, int button);
void releaseButton(_XDisplay* display, int button);
void click(_XDisplay* display, int button);
void holdKey(_XDisplay* display, const char* keysymName, bool down);
void tapKey(_XDisplay* display, const char* keysymName);
int pointerX(_XDisplay* display);

// Whether process `pid` is stopped by a signal, as Ctrl-Z stops a job (state T).
bool isStopped(pid_t pid);

// The whole text of a file; empty when there is none.
std::string readText(const std::string& path);

struct TopLevelWindow {
    unsigned long id = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool overrideRedirect = false;
    bool viewable = false;
    std::string name;
};
std::vector<TopLevelWindow> topLevelWindows(_XDisplay* display);

// The viewable override-redirect overlay window of dovetrel, if one is mapped.
std::optional<TopLevelWindow> findOverlay(_XDisplay* display);
// Whether the overlay is gone within `timeout`.
bool overlayGoes(_XDisplay* display, std::chrono::milliseconds timeout = 3s);
// The overlay once it guards: shown, and the program back in its event loop, which it only
// returns to after switching the guard on. nullopt when that does not happen in time; watching
// a whole period for one that must stay away is `!waitForGuardedOverlay(display, period)`.
std::optional<TopLevelWindow> waitForGuardedOverlay(_XDisplay* display,
                                                    std::chrono::milliseconds timeout = 10s);

// `window` and every window below it whose WM_CLASS class is `windowClass`.
std::vector<unsigned long> windowsOfClass(_XDisplay* display, unsigned long window,
                                          const char* windowClass);

// A window property's 32-bit items, or the text of an 8-bit one; empty when unset.
std::vector<unsigned long> windowProperty(_XDisplay* display, unsigned long window,
                                          const char* name);
std::string windowText(_XDisplay* display, unsigned long window, const char* name);
// Sends a 32-bit client message of `type` about `window`: to the window itself, or to the
// root window as a request to the window manager.
void sendClientMessage(_XDisplay* display, unsigned long window, const char* type,
                       std::initializer_list<long> data, bool toWindowManager = false);

// Whether any client holds a passive grab on `button` with `modifiers` (tested by trying one
// ourselves, which keeps a client that grabs meanwhile off that combination).
bool buttonIsGrabbed(_XDisplay* display, int button, unsigned modifiers = 0);

// Waits until the Qt program owning top-level `window` answers a _NET_WM_PING: its main
// thread is back in its event loop, done with whatever it was doing when it mapped the window.
bool waitForEventLoop(_XDisplay* display, unsigned long window,
                      std::chrono::milliseconds timeout = 5s);

// While it lives, a protocol error fails only the request that met it, silently, instead of
// ending the process through Xlib's default handler: windows of other clients can go away
// between finding and asking about them.
class XErrorTrap {
  public:
    explicit XErrorTrap(_XDisplay* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // The code of the last error reported so far, 0 for none; sync first to see them all.
    int error() const;

  private:
    _XDisplay* display_;
    void (*previous_)() = nullptr;
};

}  // namespace dovetrel::support
