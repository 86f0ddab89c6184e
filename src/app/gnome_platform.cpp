#include "app/gnome_platform.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/gnome/extension_notice.h"
#include "app/qt/screen_geometry.h"
#include "app/square_tap.h"
#include "app/tray/status_item.h"
#include "core/app_delegate.h"
#include "core/menu.h"
#include "core/menu_bar_icon.h"

namespace dovetrel::app {

// A wait the extension runs for us; one of each kind at a time.
class ShellWait : public Timer {
  public:
    ShellWait(std::function<void()> block, std::function<void()> cancel)
        : block_(std::move(block)), cancel_(std::move(cancel)) {}

    void invalidate() override {
        if (std::exchange(valid_, false) && cancel_) {
            cancel_();
        }
    }
    bool isValid() const override { return valid_; }
    void fire() {
        if (std::exchange(valid_, false) && block_) {
            block_();
        }
    }

  private:
    std::function<void()> block_;
    std::function<void()> cancel_;
    bool valid_ = true;
};

// The square as the extension draws it. Fades are the Shell's own; their completion is timed
// here.
class GnomeOverlaySurface : public OverlaySurface {
  public:
    GnomeOverlaySurface(ShellExtension& extension, const Rect& contentRect)
        : extension_(extension), frame_(contentRect) {
        fadeEnd_.setSingleShot(true);
    }

    Rect frame() const override { return frame_; }
    void setFrame(const Rect& frame) override {
        frame_ = frame;
        extension_.setSquare(toGlobalRect(frame, primaryScreenGeometry()),
                             overlayDrawing(frame.size.width));
    }
    bool isVisible() const override { return shown_; }
    void setAlpha(double alpha) override {
        fadeEnd_.stop();
        extension_.fadeSquare(alpha, 0, false);
    }
    void orderFrontRegardless() override {
        shown_ = true;
        extension_.showSquare(true);
        visibilityChanged(true);
    }
    void orderOut() override {
        fadeEnd_.stop();
        shown_ = false;
        extension_.showSquare(false);
        visibilityChanged(false);
    }
    // The Shell offers extensions no blur behind an actor of their own.
    void setBackgroundBlurRadius(double /*radius*/) override {}
    void animateAlpha(double target, double seconds, Easing easing,
                      std::function<void()> completion) override {
        const auto milliseconds = uint32_t(std::clamp(std::lround(seconds * 1000), 0L, 60'000L));
        extension_.fadeSquare(target, milliseconds, easing == Easing::easeIn);
        QObject::disconnect(&fadeEnd_, nullptr, nullptr, nullptr);
        QObject::connect(&fadeEnd_, &QTimer::timeout, [completion = std::move(completion)] {
            if (completion) {
                completion();
            }
        });
        fadeEnd_.start(int(milliseconds));
    }

    ~GnomeOverlaySurface() override {
        if (destroyed) {
            destroyed();
        }
    }

    std::function<void(bool shown)> visibilityChanged;
    std::function<void()> destroyed;

  private:
    ShellExtension& extension_;
    Rect frame_;
    bool shown_ = false;
    QTimer fadeEnd_;
};

// The top bar's button with the program's menu, drawn by the extension from a description.
// Without the extension, a tray icon where a panel shows them (an extension for status
// notifier items): one icon, never two.
class GnomeStatusItem : public StatusItem {
  public:
    using MakeTrayItem = std::function<std::shared_ptr<StatusItem>()>;

    GnomeStatusItem(ShellExtension& extension, StatusItemHandlers handlers,
                    MakeTrayItem makeTrayItem)
        : extension_(extension),
          handlers_(std::move(handlers)),
          makeTrayItem_(std::move(makeTrayItem)) {}

    bool hasButton() const override { return true; }
    void setImage(const MenuBarIcon& icon) override {
        icon_ = icon;
        extension_.setIcon(symbolicIconName(icon.active));
        if (tray_) {
            tray_->setImage(icon);
        }
    }
    void setMenu(std::shared_ptr<Menu> menu) override {
        menu_ = std::move(menu);
        if (tray_) {
            tray_->setMenu(menu_);
        }
        menuChanged();
    }
    std::shared_ptr<Menu> menu() const override { return menu_; }
    void menuChanged() override {
        items_.clear();
        const QJsonArray described = menu_ ? describe(*menu_) : QJsonArray();
        extension_.setMenu(QString::fromUtf8(QJsonDocument(described).toJson()));
        if (tray_) {
            tray_->menuChanged();
        }
    }
    // The extension came (everything is told again, as it starts with nothing) or went.
    void extensionAttached(bool attached) {
        if (attached) {
            tray_ = nullptr;
            if (icon_) {
                setImage(*icon_);
            }
            menuChanged();
        } else if (!tray_ && makeTrayItem_) {
            tray_ = makeTrayItem_();
            if (tray_ && icon_) {
                tray_->setImage(*icon_);
            }
            if (tray_ && menu_) {
                tray_->setMenu(menu_);
            }
        }
    }

    void opened() const {
        if (handlers_.menuWillOpen) {
            handlers_.menuWillOpen();
        }
    }
    void activated(int id) const {
        if (id >= 0 && std::size_t(id) < items_.size() && handlers_.performAction &&
            !items_[std::size_t(id)]->action.empty()) {
            handlers_.performAction(items_[std::size_t(id)]);
        }
    }

  private:
    // Each item is known by its place in the order of the description.
    QJsonArray describe(const Menu& menu) {
        QJsonArray items;
        for (const auto& item : menu.items()) {
            QJsonObject described;
            if (item->isSeparator) {
                described[QStringLiteral("separator")] = true;
                items.append(described);
                continue;
            }
            described[QStringLiteral("id")] = int(items_.size());
            items_.push_back(item);
            described[QStringLiteral("label")] = QString::fromStdString(item->title);
            described[QStringLiteral("enabled")] = !item->action.empty() || item->submenu;
            if (item->hasState) {
                described[QStringLiteral("checked")] = item->isOn;
            }
            if (item->submenu) {
                described[QStringLiteral("submenu")] = describe(*item->submenu);
            }
            items.append(described);
        }
        return items;
    }

    ShellExtension& extension_;
    StatusItemHandlers handlers_;
    std::shared_ptr<Menu> menu_;
    MakeTrayItem makeTrayItem_;
    std::shared_ptr<StatusItem> tray_;
    std::vector<std::shared_ptr<MenuItem>> items_;
    std::optional<MenuBarIcon> icon_;
};

GnomePlatform::GnomePlatform(BuildInfo build, QDBusConnection bus)
    : ClientSquarePlatform(std::move(build)),
      extension_(bus,
                 ShellExtension::Reports{
                     .attachedChanged = [this](bool attached) { attachedChanged(attached); },
                     .firstAnswer =
                         [this] {
                             if (extension_.isAttached()) {
                                 return;
                             }
                             if (statusItem_) {
                                 statusItem_->extensionAttached(false);
                             }
                             // An extension too old to attach has said so on stderr; turning
                             // it on would not help.
                             if (noticeWanted_ && !extension_.isTooOld()) {
                                 offerShellExtension(stillMissing());
                             }
                         },
                     .idled =
                         [this] {
                             if (rest_) {
                                 std::exchange(rest_, nullptr)->fire();
                             }
                         },
                     .inputSeen = [this] { inputSeen(); },
                     .squarePressed = [this](uint32_t button,
                                             QPointF position) { squarePressed(button, position); },
                     .pointerMovedOnSquare =
                         [this](QPointF position) {
                             squareMoved(toWindowPoint(position, primaryScreenGeometry()));
                         },
                     .pointerLeftSquare =
                         [this] {
                             if (square_ != nullptr) {
                                 squareLeft(square_->frame());
                             }
                         },
                     .scrolledOnSquare = [this] { squareScrolled(); },
                     .menuOpened =
                         [this] {
                             if (statusItem_) {
                                 statusItem_->opened();
                             }
                         },
                     .menuItemActivated =
                         [this](int id) {
                             if (statusItem_) {
                                 statusItem_->activated(id);
                             }
                         },
                 }) {}

GnomePlatform::~GnomePlatform() = default;

TimerRef GnomePlatform::scheduleIdleTimer(double interval, std::function<void()> block) {
    if (rest_) {
        rest_->invalidate();
    }
    restMilliseconds_ = uint32_t(std::clamp(std::ceil(interval * 1000), 1.0, double(UINT32_MAX)));
    auto wait = std::make_shared<ShellWait>(std::move(block), nullptr);
    rest_ = wait;
    extension_.watchIdle(restMilliseconds_);
    return wait;
}

TimerRef GnomePlatform::scheduleInputTimer(std::function<void()> block) {
    if (input_) {
        input_->invalidate();
    }
    // The core may drop its timer after the platform has gone.
    input_ = std::make_shared<ShellWait>(
        std::move(block), [extension = QPointer<ShellExtension>(&extension_), this] {
            if (extension) {
                QTimer::singleShot(0, extension, [this] { wantInput(); });
            }
        });
    wantInput();
    return input_;
}

void GnomePlatform::wantInput() {
    const bool wanted = (input_ && input_->isValid()) || squareIsUp();
    if (wanted && !watchingInput_) {
        extension_.watchInput();
    } else if (!wanted && watchingInput_) {
        extension_.stopWatchingInput();
    }
    watchingInput_ = wanted && extension_.isAttached();
}

void GnomePlatform::inputSeen() {
    // The Shell's watch ends at the input it tells.
    watchingInput_ = false;
    if (squareIsUp()) {
        squareInput_.inputEdge();
    }
    if (input_) {
        std::exchange(input_, nullptr)->fire();
    }
    wantInput();
}

void GnomePlatform::locatePointer(std::function<void(std::optional<Point>)> answer) {
    extension_.locatePointer(
        [this, answer = std::move(answer)](std::optional<ShellExtension::Pointer> pointer) {
            if (pointer) {
                pointer_ = toWindowPoint(pointer->position, primaryScreenGeometry());
                modifierHeld_ = pointer->modifierHeld;
                applyGuarding();
            }
            answer(pointer ? pointer_ : std::nullopt);
        });
}

std::shared_ptr<EventTap> GnomePlatform::createEventTap(uint64_t /*eventMask*/,
                                                        EventTapHandlers handlers) {
    tap_ = std::make_shared<SquareTap>(std::move(handlers), [this](bool on) {
        tapOn_ = on;
        applyGuarding();
    });
    return tap_;
}

void GnomePlatform::applyGuarding() {
    // A press that must pass cannot be handed on once the extension has it: with a modifier
    // held as the square came, the square lets presses through from the start.
    extension_.setGuarding(tapOn_ && !modifierHeld_);
}

void GnomePlatform::squarePressed(uint32_t button, QPointF position) {
    if (!tap_) {
        return;
    }
    const uint32_t type = button == 1   ? kLeftMouseDown
                          : button == 3 ? kRightMouseDown
                                        : kOtherMouseDown;
    const QRect primary = primaryScreenGeometry();
    tap_->press(type, toTapPoint(position, primary));
}

bool GnomePlatform::squareIsUp() const {
    return square_ != nullptr && square_->isVisible();
}

std::unique_ptr<OverlaySurface> GnomePlatform::createOverlaySurface(const Rect& contentRect) {
    auto surface = std::make_unique<GnomeOverlaySurface>(extension_, contentRect);
    square_ = surface.get();
    surface->visibilityChanged = [this](bool) { wantInput(); };
    surface->destroyed = [this] { square_ = nullptr; };
    return surface;
}

std::shared_ptr<StatusItem> GnomePlatform::createStatusItem(StatusItemHandlers handlers) {
    statusItem_ = std::make_shared<GnomeStatusItem>(
        extension_, handlers, [this, handlers] { return QtPlatform::createStatusItem(handlers); });
    if (extension_.hasAnswered() && !extension_.isAttached()) {
        statusItem_->extensionAttached(false);
    }
    return statusItem_;
}

std::function<bool()> GnomePlatform::stillMissing() {
    // The answer about the extension may come after the platform has gone.
    return [extension = QPointer<ShellExtension>(&extension_)] {
        return extension && !extension->isAttached();
    };
}

bool GnomePlatform::isProcessTrusted(bool prompt) {
    if (extension_.isAttached()) {
        return true;
    }
    // Asked at start, before the extension may have answered: the notice waits for that.
    if (prompt && extension_.hasAnswered() && !extension_.isTooOld()) {
        offerShellExtension(stillMissing());
    } else if (prompt) {
        noticeWanted_ = true;
    }
    return false;
}

void GnomePlatform::attachedChanged(bool attached) {
    watchingInput_ = false;
    // GNOME turns extensions off on the lock screen: no tray icon for those minutes.
    if (statusItem_ && (attached || !isScreenLockedOrBlanked())) {
        statusItem_->extensionAttached(attached);
    }
    if (!attached) {
        return;
    }
    withdrawShellExtensionNotice();
    // The extension starts with nothing: everything still wanted is asked again.
    if (rest_ && rest_->isValid()) {
        extension_.watchIdle(restMilliseconds_);
    }
    wantInput();
    applyGuarding();
}

}  // namespace dovetrel::app
