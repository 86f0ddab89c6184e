// The demonstration of scripts/run --wayland: on a private headless sway, the pointer rests over
// a window, the square appears, a press on it is dropped and the next one reaches the window.
// Prints what happened and saves screenshots (grim) to the folder given.
//   wayland_demo DOVETREL_BINARY OUTPUT_FOLDER
#include <linux/input-event-codes.h>

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "support/wayland_session.h"

namespace {

using namespace dovetrel::support;

int presses(WaylandSession& session) {
    const auto events = session.received();
    return int(std::count(events.begin(), events.end(), "press 272"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: wayland_demo DOVETREL_BINARY OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(out.path());
    WaylandSession session;
    if (!session.failure().empty()) {
        std::fprintf(stderr, "%s\n", session.failure().c_str());
        return 1;
    }
    session.openWindow();
    Dovetrel dovetrel(session.environment(), "[General]\nidleTimeout=1.5\n", {}, argv[1]);
    session.movePointer(600, 380);
    session.movePointer(640, 400);
    std::printf("The pointer rests at (640, 400) over a window that records its presses...\n");
    const bool shown = waitFor([&] { return paintedArea(session.screenshot()).width() > 40; }, 5s);
    std::this_thread::sleep_for(300ms);
    session.screenshot().save(out.filePath(QStringLiteral("1-square-under-resting-pointer.png")));
    std::printf(shown ? "  after 1.5 s of stillness the square appears under it.\n"
                      : "  (the square did not appear)\n");
    presses(session);

    session.click(BTN_LEFT);
    std::this_thread::sleep_for(500ms);
    session.screenshot().save(out.filePath(QStringLiteral("2-after-dropped-press.png")));
    std::printf(presses(session) == 0
                    ? "A press on the square was dropped: the window received nothing, and the "
                      "square went.\n"
                    : "  (the press on the square reached the window)\n");

    session.click(BTN_LEFT);
    std::this_thread::sleep_for(300ms);
    if (presses(session) > 0) {
        std::printf("The next press, with the square gone, reached the window at once.\n");
    }
    std::printf("Screenshots: %s\n", argv[2]);
    return 0;
}
