#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <thread>

#include "support/x_session.h"

// X defines macros (None, Bool) that break gtest's headers: it comes last.
#include <X11/X.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

// Where the pointer rests: over the client window, so the overlay comes up centred here.
constexpr int kRestX = 400;
constexpr int kRestY = 300;

class ClickGuardEndToEnd : public ::testing::Test {
  protected:
    explicit ClickGuardEndToEnd(SessionOptions options = {}) : session(options) {}

    void SetUp() override { movePointer(display(), kRestX, kRestY); }

    _XDisplay* display() const { return session.display(); }

    void launch() { dovetrel.emplace(session, "[General]\nidleTimeout=1.5\n"); }

    // The overlay once it is fully up: the program shows the window first and switches the
    // guard on before it returns to its event loop.
    void waitForOverlay() { EXPECT_TRUE(waitForGuardedOverlay(display())); }

    XSession session;
    ClientWindow client{session, 100, 100, 600, 400};
    std::optional<Dovetrel> dovetrel;
};

// A window manager's own click bindings (raise on click, double-click detection) pass on
// presses that come faster than a hand makes them only in part; counting every click needs a
// desktop without one.
class ClickGuardCountingEveryClick : public ClickGuardEndToEnd {
  protected:
    ClickGuardCountingEveryClick() : ClickGuardEndToEnd(SessionOptions{.windowManager = false}) {}
};

TEST_F(ClickGuardEndToEnd, CountsLockKeysAsNotHeld) {
    launch();
    tapKey(display(), "Num_Lock");
    tapKey(display(), "Caps_Lock");
    waitForOverlay();
    click(display(), 1);
    EXPECT_TRUE(overlayGoes(display()));
    EXPECT_TRUE(client.receives({}));
    tapKey(display(), "Num_Lock");
    tapKey(display(), "Caps_Lock");
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

TEST_F(ClickGuardCountingEveryClick, GuardsBesideAKeyBindingDaemonThatHoldsASideButton) {
    const QTemporaryDir folder;
    const std::string ran = folder.filePath("ran").toStdString();
    const std::string bindings = folder.filePath("xbindkeysrc").toStdString();
    std::ofstream(bindings) << "\"echo b8 >> " << ran << "\"\n  b:8\n";
    ChildProcess daemon({"xbindkeys", "-n", "-f", bindings}, session.environment());
    ASSERT_TRUE(waitFor([&] { return buttonIsGrabbed(display(), 8); }));
    launch();

    // During the countdown nothing is held, and every click arrives with its release. The
    // pointer keeps moving, so that no square comes up meanwhile.
    constexpr int kClicks = 2000;
    for (int i = 0; i < kClicks; ++i) {
        movePointer(display(), kRestX + i % 2, kRestY);
        click(display(), 1);
    }
    EXPECT_TRUE(client.receives(std::vector<int>(kClicks, 1)));

    waitForOverlay();
    click(display(), 1);
    EXPECT_TRUE(overlayGoes(display()));
    EXPECT_TRUE(client.receives({}));

    waitForOverlay();
    click(display(), 8);
    EXPECT_TRUE(overlayGoes(display()));
    EXPECT_TRUE(waitFor([&] { return readText(ran) == "b8\n"; }));
    EXPECT_TRUE(client.receives({}));

    // Said once, however often the guard goes on.
    waitForOverlay();
    const std::string said = dovetrel->unexpectedOutput();
    dovetrel.reset();
    EXPECT_EQ(
        said,
        "dovetrel.guard: another program holds button 8 on the whole screen; presses it takes go "
        "to that program and are not guarded\n");
}

TEST_F(ClickGuardEndToEnd, LetsGoOfThePointerWhenStoppedFromTheTerminal) {
    launch();
    waitForOverlay();
    ASSERT_TRUE(buttonIsGrabbed(display(), 1));
    // Whether the guard thread can take its grabs up again before the stop lands is a race:
    // it takes many tries to show.
    for (int stop = 0; stop < 40; ++stop) {
        dovetrel->process().signal(SIGTSTP);
        ASSERT_TRUE(waitFor([&] { return isStopped(dovetrel->process().pid()); })) << stop;
        ASSERT_FALSE(buttonIsGrabbed(display(), 1)) << "stopped with its grabs, try " << stop;
        dovetrel->process().signal(SIGCONT);
        ASSERT_TRUE(waitFor([&] { return !isStopped(dovetrel->process().pid()); }));
        std::this_thread::sleep_for(20ms);
    }
    dovetrel->process().signal(SIGTSTP);
    ASSERT_TRUE(waitFor([&] { return isStopped(dovetrel->process().pid()); }));
    click(display(), 1);
    EXPECT_TRUE(client.receives({1}));

    // Continued, it guards the square that is still up: once its grabs are back, a press on
    // the square is dropped and takes it down. (Asking the server whether a button is
    // grabbed means grabbing it, which would keep the guard off that button.)
    dovetrel->process().signal(SIGCONT);
    EXPECT_TRUE(waitFor([&] {
        click(display(), 1);
        return overlayGoes(display(), 100ms);
    }));
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

// A job in the background of a terminal that stops background writers (stty tostop), with
// something to say: a key-binding daemon holds a button the guard wants.
TEST_F(ClickGuardEndToEnd, ABackgroundJobStoppedForWritingToItsTerminalHoldsNothing) {
    const QTemporaryDir folder;
    const std::string bindings = folder.filePath("xbindkeysrc").toStdString();
    const std::string pidFile = folder.filePath("pid").toStdString();
    std::ofstream(bindings) << "\"true\"\n  b:8\n";
    ChildProcess daemon({"xbindkeys", "-n", "-f", bindings}, session.environment());
    ASSERT_TRUE(waitFor([&] { return buttonIsGrabbed(display(), 8); }));
    std::vector<std::string> variables = session.environment();
    variables.push_back("XDG_CONFIG_HOME=" + folder.path().toStdString());
    std::vector<char*> environment;
    for (std::string& variable : variables) {
        environment.push_back(variable.data());
    }
    environment.push_back(nullptr);
    const std::string script =
        "set -m; stty tostop; " DOVETREL_BINARY " & echo $! > " + pidFile + "; sleep 600";
    // A terminal of its own, whose session the shell leads; set -m puts the program in a
    // background process group of it.
    struct Job {
        int terminal = -1;
        pid_t shell = -1;
        pid_t pid = -1;
        ~Job() {
            for (const pid_t process : {pid, shell}) {
                if (process > 0) {
                    kill(process, SIGKILL);
                }
            }
            if (shell > 0) {
                waitpid(shell, nullptr, 0);
                close(terminal);
            }
        }
    } job;
    job.shell = forkpty(&job.terminal, nullptr, nullptr, nullptr);
    if (job.shell == 0) {
        execle("/bin/sh", "sh", "-c", script.c_str(), nullptr, environment.data());
        _exit(127);
    }
    ASSERT_GT(job.shell, 0);
    ASSERT_TRUE(waitFor([&] { return !readText(pidFile).empty(); }));
    job.pid = std::stoi(readText(pidFile));
    // The square comes, the guard finds button 8 taken and says so: the job stops for it.
    ASSERT_TRUE(waitFor([&] { return isStopped(job.pid); }, 10s));
    EXPECT_FALSE(buttonIsGrabbed(display(), 1));
    click(display(), 1);
    EXPECT_TRUE(client.receives({1}));
}

}  // namespace
}  // namespace dovetrel::e2e
