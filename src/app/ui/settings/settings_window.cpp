#include "app/ui/settings/settings_window.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <optional>
#include <utility>

#include "app/qt/logging.h"
#include "app/ui/settings/settings_panel.h"

namespace dovetrel::app {
namespace {

// The frame the window manager put around the last settings window, so that the next one can
// be centred with its frame before the manager has framed it. Main thread only.
QMargins lastKnownFrameMargins;

// Puts `panel` so that its frame, as far as it is known, is centred on `area`.
void placeCentred(QWidget* panel, const QRect& area, const QMargins& frame) {
    QRect placed(QPoint(), panel->size().grownBy(frame));
    placed.moveCenter(area.center());
    // A top-level widget's position is its frame's.
    panel->move(placed.topLeft());
    qCDebug(lcSettings) << "settings window placed at" << panel->geometry() << "with frame" << frame
                        << "on" << area;
}

QMargins frameMarginsOf(const QWidget* panel) {
    const QWindow* window = panel->windowHandle();
    return window != nullptr ? window->frameMargins() : QMargins();
}

}  // namespace

struct SettingsWindowWidget::State : QObject {
    State(Platform& platform, SettingsPanel* panel) : platform(platform), panel(panel) {
        panel->installEventFilter(this);
    }

    // Until the window manager has framed the window, its frame is a guess; once the frame is
    // known the window is centred again if the guess was wrong.
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Filtering only the panel; `watched` rather than `panel`, which may be mid-destruction.
        auto* widget = static_cast<QWidget*>(watched);
        // The manager frames the window around its mapping; Qt learns of it at whichever of
        // these comes first.
        const QEvent::Type type = event->type();
        if (pendingArea && (type == QEvent::Move || type == QEvent::Resize ||
                            type == QEvent::Paint || type == QEvent::WindowActivate)) {
            const QMargins frame = frameMarginsOf(widget);
            qCDebug(lcSettings) << "settings window" << event->type() << widget->geometry()
                                << "frame" << frame;
            if (!frame.isNull()) {
                lastKnownFrameMargins = frame;
                const QRect area = *std::exchange(pendingArea, std::nullopt);
                if (frame != assumedFrame) {
                    placeCentred(widget, area, frame);
                }
            }
        }
        return false;
    }

    Platform& platform;
    QPointer<SettingsPanel> panel;
    std::optional<QRect> pendingArea;
    QMargins assumedFrame;
};

SettingsWindowWidget::SettingsWindowWidget(
    Platform& platform, std::function<void(const SettingsWindow*)> windowWillClose)
    : state_(std::make_unique<State>(platform, new SettingsPanel(platform))) {
    state_->panel->onClose = [this, windowWillClose = std::move(windowWillClose)] {
        windowWillClose(this);
    };
    // Observers stay registered for good; once the panel is gone this one does nothing.
    platform.preferences().addChangeObserver([panel = state_->panel] {
        if (panel) {
            panel->refresh();
        }
    });
}

SettingsWindowWidget::~SettingsWindowWidget() {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr || QCoreApplication::instance() == nullptr) {
        return;
    }
    panel->onClose = nullptr;
    // Ending inside the panel's own close handler: let that handler return first.
    if (panel->isClosing()) {
        panel->deleteLater();
    } else {
        delete panel;
    }
}

void SettingsWindowWidget::center() {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr) {
        return;
    }
    panel->adjustSize();
    // The screen the user is looking at is the one with the pointer: they just used the tray.
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    QMargins frame = frameMarginsOf(panel);
    if (frame.isNull()) {
        frame = lastKnownFrameMargins;
        state_->pendingArea = area;
        state_->assumedFrame = frame;
    }
    placeCentred(panel, area, frame);
}

void SettingsWindowWidget::setLevel(WindowLevel level) {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr) {
        return;
    }
    panel->winId();
    // Straight on the QWindow: QWidget::setWindowFlags would hide and recreate the window.
    // On X11 Qt sends _NET_WM_STATE to a mapped window and writes it before mapping one.
    if (QWindow* window = panel->windowHandle()) {
        window->setFlag(Qt::WindowStaysOnTopHint, level == WindowLevel::floating);
    }
}

void SettingsWindowWidget::makeKeyAndOrderFront() {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr) {
        return;
    }
    panel->setWindowState(panel->windowState() & ~Qt::WindowMinimized);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

}  // namespace dovetrel::app
