// A private X session for end-to-end tests: Xvfb with a window manager, the real dovetrel
// binary with its own settings folder, a client window that records the presses it gets,
// and XTest to inject input.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace dovetrel::e2e {

using namespace std::chrono_literals;

// Polls `condition` until it holds or `timeout` passes; returns whether it held.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

// A child process with its standard error captured to a file.
class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;

    pid_t pid() const { return pid_; }
    bool isRunning();
    // The exit status, or 128 + signal; nullopt when it did not end within `timeout`.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = 5s);
    void signal(int number);
    // Everything written to standard error so far.
    std::string errorOutput() const;

  private:
    void reap();

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string errorPath_;
};

class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct SessionOptions {
    bool windowManager = true;
    int width = 1280;
    int height = 800;
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
    void waitUntilWindowsAreManaged();

    std::string displayName_;
    ChildProcess server_;
    ChildProcess windowManager_;
    TemporaryDirectory runtimeDir_;
    _XDisplay* display_ = nullptr;
};

// The dovetrel binary running in `session` with a fresh settings folder holding `settings`
// (the text of dovetrel.conf; none when empty).
class Dovetrel {
  public:
    Dovetrel(XSession& session, const std::string& settings = "",
             const std::vector<std::string>& extraEnvironment = {},
             const std::string& binary = DOVETREL_BINARY);
    ~Dovetrel();

    ChildProcess& process() { return process_; }
    std::string settingsPath() const;
    // Standard error, less the lines any Qt program prints on a bare test server.
    std::string unexpectedOutput() const;

  private:
    XSession& session_;
    TemporaryDirectory configHome_;
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
void tapKey(_XDisplay* display, const char* keysymName);
void holdKey(_XDisplay* display, const char* keysymName, bool down);

// The viewable override-redirect overlay window of dovetrel, if one is mapped.
struct OverlayInfo {
    unsigned long window = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
std::optional<OverlayInfo> findOverlay(_XDisplay* display);
// The overlay once it guards: shown, and the program back in its event loop, which it only
// returns to after switching the guard on. nullopt when that does not happen in time.
std::optional<OverlayInfo> waitForGuardedOverlay(_XDisplay* display,
                                                 std::chrono::milliseconds timeout = 10s);

// The children of the root window as they are now.
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

// Cuts the server's connection to the client that owns `resource`, as xkill does.
void killClientOwning(_XDisplay* display, unsigned long resource);

// Whether any client holds a passive grab on `button` with `modifiers` (tested by trying one
// ourselves, which keeps a client that grabs meanwhile off that combination).
bool buttonIsGrabbed(_XDisplay* display, int button, unsigned modifiers = 0);

// Waits until the Qt program owning top-level `window` answers a _NET_WM_PING: its main
// thread is back in its event loop, done with whatever it was doing when it mapped the window.
bool waitForEventLoop(_XDisplay* display, unsigned long window,
                      std::chrono::milliseconds timeout = 5s);

}  // namespace dovetrel::e2e
