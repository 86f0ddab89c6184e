// The program's side of its GNOME Shell extension, which draws the square and reports input from
// inside the compositor (GNOME offers clients neither a layer shell nor idle notifications).
// The extension decides nothing: every call here is an order, every callback a report.
// The contract is data/gnome-shell/app.dovetrel.Shell1.xml.
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/overlay_window.h"

namespace dovetrel::app {

class ShellExtension : public QObject {
    Q_OBJECT

  public:
    static constexpr uint32_t kContractVersion = 1;

    // Where the pointer is, in the Shell's stage coordinates, and whether Shift, Control, Alt
    // or Super is held.
    struct Pointer {
        QPointF position;
        bool modifierHeld = false;
    };

    // Reports, each run from the event loop.
    struct Reports {
        // The extension became usable (attached) or stopped being so (gone, disabled, the
        // Shell restarting, the screen locking).
        std::function<void(bool attached)> attachedChanged;
        // The first attempt to attach has been answered, either way.
        std::function<void()> firstAnswer;
        std::function<void()> idled;
        std::function<void()> inputSeen;
        std::function<void(uint32_t button, QPointF position)> squarePressed;
        std::function<void(QPointF position)> pointerMovedOnSquare;
        std::function<void()> pointerLeftSquare;
        std::function<void()> scrolledOnSquare;
        std::function<void()> menuOpened;
        std::function<void(int id)> menuItemActivated;
    };

    // Follows the extension on `bus` and attaches to it whenever it is there. The caller owns
    // app.dovetrel.Dovetrel already, or attaching is refused.
    ShellExtension(QDBusConnection bus, Reports reports);
    ~ShellExtension() override;

    bool isAttached() const { return attached_; }
    bool hasAnswered() const { return answered_; }
    // The extension answered with an older contract than this program speaks.
    bool isTooOld() const { return tooOld_; }

    // Orders; each is dropped while not attached.
    void watchIdle(uint32_t milliseconds);
    void watchInput();
    void stopWatchingInput();
    // `answer` gets nullopt when the extension cannot answer.
    void locatePointer(std::function<void(std::optional<Pointer>)> answer);
    void setSquare(const QRectF& frame, const OverlayDrawing& drawing);
    void showSquare(bool shown);
    void fadeSquare(double opacity, uint32_t milliseconds, bool easeIn);
    void setGuarding(bool guarding);
    void setMenu(const QString& json);
    void setIcon(const QString& iconName);

  private Q_SLOTS:
    void Idled();
    void InputSeen();
    void SquarePressed(uint button, double x, double y);
    void PointerMovedOnSquare(double x, double y);
    void PointerLeftSquare();
    void ScrolledOnSquare();
    void MenuOpened();
    void MenuItemActivated(int id);
    void Gone();

  private:
    void attach();
    void accept(uint32_t version);
    void setAttached(bool attached);
    void call(const QString& method, const QVariantList& arguments = {});
    // Reports from an extension we are not attached to (yet, or any more) mean nothing.
    template <typename Report, typename... Arguments>
    void report(const Report& handler, Arguments... arguments) {
        if (attached_ && handler) {
            handler(arguments...);
        }
    }

    QDBusConnection bus_;
    Reports reports_;
    QDBusServiceWatcher watcher_;
    bool attached_ = false;
    bool answered_ = false;
    bool tooOld_ = false;
    // Counts attachments, so that an answer to an older one is not taken for this one.
    uint64_t attachments_ = 0;
};

}  // namespace dovetrel::app
