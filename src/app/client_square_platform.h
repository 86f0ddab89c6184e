// What the Wayland and GNOME platforms share: a desktop where the square is a surface of the
// program's own (a layer surface, or the Shell extension's actor) that the compositor gives the
// presses made on it, and where the program learns of the pointer only from that square and
// from the compositor's "some input" edges.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "app/qt/square_input_edges.h"
#include "app/qt_platform.h"

namespace dovetrel::app {

class ClientSquarePlatform : public QtPlatform {
  public:
    explicit ClientSquarePlatform(BuildInfo build);

    // Reports what happens on the square while it is up: movement inside it, leaving it,
    // scrolling on it and any other input.
    std::shared_ptr<MonitorToken> addGlobalMonitor(uint64_t mask,
                                                   std::function<void(uint32_t)> handler) override;
    // The position last told by the compositor, the probe or the square.
    Point mouseLocation() override { return pointer_.value_or(Point{}); }
    // The primary screen: where focus is, such a client is not told.
    std::optional<Rect> mainScreenFrame() override;
    // A client cannot see another's pointer image: nothing tells it is hidden.
    std::optional<std::function<uint32_t()>> cursorVisibilityFunction() override {
        return std::nullopt;
    }
    std::optional<CursorImage> currentSystemCursor() override { return std::nullopt; }
    // An open menu of ours holds the pointer wherever it is; where our windows are on the
    // screen, such a client is not told.
    bool isPointerOverOwnWindow() override;

  protected:
    virtual bool squareIsUp() const = 0;
    // Tells the core's monitor, while the square is up.
    void report(uint32_t type);
    // The square told of the pointer moving on it (to `pointer`, window coordinates), leaving
    // it, or scrolling on it.
    void squareMoved(Point pointer);
    void squareLeft(const Rect& frame);
    void squareScrolled();

    // Window coordinates; nullopt until something has told.
    std::optional<Point> pointer_;
    // Input edges while the square is up, told apart from the pointer on it.
    SquareInputEdges squareInput_;

  private:
    std::function<void(uint32_t)> monitor_;
};

}  // namespace dovetrel::app
