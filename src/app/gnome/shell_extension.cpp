#include "app/gnome/shell_extension.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <cstdio>
#include <utility>

namespace dovetrel::app {
namespace {

const QString kService = QStringLiteral("app.dovetrel.Shell");
const QString kPath = QStringLiteral("/app/dovetrel/Shell");
const QString kInterface = QStringLiteral("app.dovetrel.Shell1");

// Clutter's modifier bits that keep a press from being dropped: Shift, Control, Alt (Mod1),
// Mod4, Super and Meta. Hyper is none of the keys the guard has ever let through.
constexpr uint32_t kGuardModifiers = 1U | 4U | 8U | 64U | (1U << 26) | (1U << 28);

// Lists of numbers go as arrays of doubles ("ad"), as the contract says, not of variants. The
// drawing's rectangles have their origin at the bottom left; the Shell's at the top left.
QVariant rect(const Rect& r, double side) {
    return QVariant::fromValue(
        QList<double>{r.origin.x, side - r.origin.y - r.size.height, r.size.width, r.size.height});
}

QVariant color(const Rgba& c) {
    return QVariant::fromValue(QList<double>{c.red, c.green, c.blue, c.alpha});
}

QVariantMap drawingMap(const OverlayDrawing& d, double side) {
    return {
        {QStringLiteral("outer"), rect(d.outer, side)},
        {QStringLiteral("outerRadius"), d.outerRadius},
        {QStringLiteral("outerFill"), color(d.outerFill)},
        {QStringLiteral("outerStroke"), color(d.outerStroke)},
        {QStringLiteral("outerLineWidth"), d.outerLineWidth},
        {QStringLiteral("inner"), rect(d.inner, side)},
        {QStringLiteral("innerRadius"), d.innerRadius},
        {QStringLiteral("innerStroke"), color(d.innerStroke)},
        {QStringLiteral("innerLineWidth"), d.innerLineWidth},
    };
}

}  // namespace

ShellExtension::ShellExtension(QDBusConnection bus, Reports reports)
    : bus_(std::move(bus)), reports_(std::move(reports)) {
    watcher_.setConnection(bus_);
    watcher_.addWatchedService(kService);
    // A Shell that restarts, or an extension enabled again, comes back under a new owner.
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                setAttached(false);
                if (!owner.isEmpty()) {
                    attach();
                }
            });
    const struct {
        const char* name;
        const char* slot;
    } signals[] = {
        {"Idled", SLOT(Idled())},
        {"InputSeen", SLOT(InputSeen())},
        {"SquarePressed", SLOT(SquarePressed(uint, double, double))},
        {"PointerMovedOnSquare", SLOT(PointerMovedOnSquare(double, double))},
        {"PointerLeftSquare", SLOT(PointerLeftSquare())},
        {"ScrolledOnSquare", SLOT(ScrolledOnSquare())},
        {"MenuOpened", SLOT(MenuOpened())},
        {"MenuItemActivated", SLOT(MenuItemActivated(int))},
        {"Gone", SLOT(Gone())},
    };
    for (const auto& signal : signals) {
        bus_.connect(kService, kPath, kInterface, QLatin1String(signal.name), this, signal.slot);
    }
    attach();
}

ShellExtension::~ShellExtension() {
    // Whatever we showed goes with us: the extension also sees our name leave the bus.
    if (attached_) {
        showSquare(false);
        setMenu(QStringLiteral("[]"));
    }
}

void ShellExtension::attach() {
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Attach"));
    message.setAutoStartService(false);
    const uint64_t attachment = ++attachments_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attachment](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<uint> reply = *call;
                // An answer overtaken by a new owner is neither an attachment nor the first
                // answer: the new owner's is on its way.
                if (attachment != attachments_) {
                    return;
                }
                if (reply.isValid()) {
                    accept(reply.value());
                }
                if (!std::exchange(answered_, true) && reports_.firstAnswer) {
                    reports_.firstAnswer();
                }
            });
}

void ShellExtension::accept(uint32_t version) {
    tooOld_ = version < kContractVersion;
    if (tooOld_) {
        std::fprintf(stderr,
                     "dovetrel: the Dovetrel GNOME Shell extension is older than this program "
                     "(contract %u, this needs %u): update it\n",
                     version, kContractVersion);
        return;
    }
    setAttached(true);
}

void ShellExtension::setAttached(bool attached) {
    if (!attached) {
        ++attachments_;
    }
    if (attached_ != attached) {
        attached_ = attached;
        if (reports_.attachedChanged) {
            reports_.attachedChanged(attached);
        }
    }
}

void ShellExtension::call(const QString& method, const QVariantList& arguments) {
    if (!attached_) {
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    // Orders keep their sequence on the bus; none is worth waiting for.
    bus_.asyncCall(message);
}

void ShellExtension::watchIdle(uint32_t milliseconds) {
    call(QStringLiteral("WatchIdle"), {milliseconds});
}

void ShellExtension::watchInput() {
    call(QStringLiteral("WatchInput"));
}

void ShellExtension::stopWatchingInput() {
    call(QStringLiteral("StopWatchingInput"));
}

void ShellExtension::locatePointer(std::function<void(std::optional<Pointer>)> answer) {
    if (!attached_) {
        answer(std::nullopt);
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetPointer"));
    message.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [answer = std::move(answer)](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<double, double, uint> reply = *call;
                if (!reply.isValid()) {
                    answer(std::nullopt);
                    return;
                }
                answer(Pointer{QPointF(reply.argumentAt<0>(), reply.argumentAt<1>()),
                               (reply.argumentAt<2>() & kGuardModifiers) != 0});
            });
}

void ShellExtension::setSquare(const QRectF& frame, const OverlayDrawing& drawing) {
    call(QStringLiteral("SetSquare"), {frame.x(), frame.y(), frame.width(),
                                       QVariant::fromValue(drawingMap(drawing, frame.height()))});
}

void ShellExtension::showSquare(bool shown) {
    call(shown ? QStringLiteral("ShowSquare") : QStringLiteral("HideSquare"));
}

void ShellExtension::fadeSquare(double opacity, uint32_t milliseconds, bool easeIn) {
    call(QStringLiteral("FadeSquare"),
         {opacity, milliseconds, easeIn ? QStringLiteral("ease-in") : QStringLiteral("ease-out")});
}

void ShellExtension::setGuarding(bool guarding) {
    call(QStringLiteral("SetGuarding"), {guarding});
}

void ShellExtension::setMenu(const QString& json) {
    call(QStringLiteral("SetMenu"), {json});
}

void ShellExtension::setIcon(const QString& iconName) {
    call(QStringLiteral("SetIcon"), {iconName});
}

void ShellExtension::Idled() {
    report(reports_.idled);
}
void ShellExtension::InputSeen() {
    report(reports_.inputSeen);
}
void ShellExtension::SquarePressed(uint button, double x, double y) {
    report(reports_.squarePressed, button, QPointF(x, y));
}
void ShellExtension::PointerMovedOnSquare(double x, double y) {
    report(reports_.pointerMovedOnSquare, QPointF(x, y));
}
void ShellExtension::PointerLeftSquare() {
    report(reports_.pointerLeftSquare);
}
void ShellExtension::ScrolledOnSquare() {
    report(reports_.scrolledOnSquare);
}
void ShellExtension::MenuOpened() {
    report(reports_.menuOpened);
}
void ShellExtension::MenuItemActivated(int id) {
    report(reports_.menuItemActivated, id);
}

void ShellExtension::Gone() {
    setAttached(false);
}

}  // namespace dovetrel::app
