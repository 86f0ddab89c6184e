// A surface on the compositor's overlay layer (wlr layer shell), above every window, never
// focused, mapped only while shown. The square and the pointer probe are both such surfaces.
#pragma once

#include <QImage>
#include <QRect>
#include <functional>

#include "app/wayland/connection.h"

struct wl_surface;
struct zwlr_layer_surface_v1;

namespace dovetrel::app {

class LayerSurface {
  public:
    // `scope` names the surface to the compositor (its layer-shell namespace).
    LayerSurface(WaylandConnection& connection, const char* scope);
    ~LayerSurface();
    LayerSurface(const LayerSurface&) = delete;
    LayerSurface& operator=(const LayerSurface&) = delete;

    // Maps the surface over `area` (output pixels, top-left origin), or over the whole output
    // when `area` is empty. Without `takesInput` the pointer passes through it.
    void show(const QRect& area, bool takesInput);
    void hide();
    bool isShown() const { return surface_ != nullptr; }
    // Lets the pointer's input reach the shown surface or pass through it, from now on.
    void setTakesInput(bool takesInput);
    // Draws into a cleared premultiplied ARGB buffer of the surface's size; without a painter
    // the surface is fully transparent.
    void setPainter(std::function<void(QImage& image)> paint) { paint_ = std::move(paint); }
    // Shows a fresh painting; nothing before the compositor has sized the surface.
    void repaint();

    // The pointer over this surface while it is shown.
    PointerEvents pointerEvents;
    // The compositor took the surface away (an output went, the shell closed it).
    std::function<void()> closed;

    // The layer surface's listener, called from C.
    void configured(uint32_t serial, uint32_t width, uint32_t height);
    void closedByCompositor();

  private:
    void destroy();
    void applyInputRegion(bool takesInput);

    WaylandConnection& connection_;
    const char* scope_;
    std::function<void(QImage&)> paint_;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    QSize size_;
    bool configured_ = false;
};

}  // namespace dovetrel::app
