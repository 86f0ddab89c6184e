#include "app/wayland/layer_surface.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QPainter>
#include <cstdio>

#include "wlr-layer-shell.h"

namespace dovetrel::app {
namespace {

// One shared-memory buffer, freed when the compositor releases it.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    void* memory = nullptr;
    size_t length = 0;
};

const wl_buffer_listener kBufferListener = {
    .release =
        [](void* data, wl_buffer*) {
            auto* shm = static_cast<ShmBuffer*>(data);
            wl_buffer_destroy(shm->buffer);
            munmap(shm->memory, shm->length);
            delete shm;
        },
};

// A buffer of `size` as a QImage (WL_SHM_FORMAT_ARGB8888 is Qt's premultiplied ARGB32 in
// memory order), cleared; nullptr when memory cannot be had.
ShmBuffer* createBuffer(wl_shm* shm, QSize size, QImage& image) {
    const int stride = size.width() * 4;
    const size_t length = size_t(stride) * size_t(size.height());
    const int fd = memfd_create("dovetrel-surface", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(length)) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(length));
    auto* buffer = new ShmBuffer{wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(),
                                                           stride, WL_SHM_FORMAT_ARGB8888),
                                 memory, length};
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(buffer->buffer, &kBufferListener, buffer);
    image = QImage(static_cast<uchar*>(memory), size.width(), size.height(), stride,
                   QImage::Format_ARGB32_Premultiplied);
    return buffer;
}

const zwlr_layer_surface_v1_listener kLayerListener = {
    .configure =
        [](void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width, uint32_t height) {
            static_cast<LayerSurface*>(data)->configured(serial, width, height);
        },
    .closed =
        [](void* data, zwlr_layer_surface_v1*) {
            static_cast<LayerSurface*>(data)->closedByCompositor();
        },
};

}  // namespace

LayerSurface::LayerSurface(WaylandConnection& connection, const char* scope)
    : connection_(connection), scope_(scope) {}

LayerSurface::~LayerSurface() {
    destroy();
}

void LayerSurface::show(const QRect& area, bool takesInput) {
    destroy();
    const WaylandGlobals& globals = connection_.globals();
    surface_ = wl_compositor_create_surface(globals.compositor);
    // No output named: the compositor puts it on the output it finds current.
    layer_ = zwlr_layer_shell_v1_get_layer_surface(globals.layerShell, surface_, nullptr,
                                                   ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, scope_);
    zwlr_layer_surface_v1_add_listener(layer_, &kLayerListener, this);
    if (area.isEmpty()) {
        zwlr_layer_surface_v1_set_anchor(
            layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        size_ = QSize(0, 0);  // the output's, once configured
    } else {
        zwlr_layer_surface_v1_set_anchor(
            layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
        zwlr_layer_surface_v1_set_margin(layer_, area.y(), 0, 0, area.x());
        size_ = area.size();
    }
    zwlr_layer_surface_v1_set_size(layer_, uint32_t(size_.width()), uint32_t(size_.height()));
    // Over panels too, and never taking the keyboard from the window the user works in.
    zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    applyInputRegion(takesInput);
    connection_.watchPointer(surface_, pointerEvents);
    wl_surface_commit(surface_);
    connection_.flush();
}

void LayerSurface::applyInputRegion(bool takesInput) {
    if (takesInput) {
        wl_surface_set_input_region(surface_, nullptr);  // all of it
        return;
    }
    wl_region* none = wl_compositor_create_region(connection_.globals().compositor);
    wl_surface_set_input_region(surface_, none);
    wl_region_destroy(none);
}

void LayerSurface::setTakesInput(bool takesInput) {
    if (surface_ == nullptr) {
        return;
    }
    applyInputRegion(takesInput);
    wl_surface_commit(surface_);
    // The compositor looks at input regions when the pointer moves, not before the next press.
    if (configured_) {
        connection_.nudgePointer();
    }
    connection_.flush();
}

void LayerSurface::configured(uint32_t serial, uint32_t width, uint32_t height) {
    zwlr_layer_surface_v1_ack_configure(layer_, serial);
    const QSize size{int(width), int(height)};
    const bool resized = size.isValid() && !size.isEmpty() && size != size_;
    if (resized) {
        size_ = size;
    }
    const bool firstTime = !configured_;
    configured_ = true;
    if (firstTime || resized) {
        repaint();
    }
    if (firstTime) {
        connection_.nudgePointer();
    }
}

void LayerSurface::repaint() {
    if (!configured_ || size_.isEmpty()) {
        return;
    }
    QImage image;
    ShmBuffer* buffer = createBuffer(connection_.globals().shm, size_, image);
    if (buffer == nullptr) {
        std::perror("dovetrel: no shared memory for a surface");
        return;
    }
    if (paint_) {
        paint_(image);
    }
    wl_surface_attach(surface_, buffer->buffer, 0, 0);
    wl_surface_damage(surface_, 0, 0, size_.width(), size_.height());
    wl_surface_commit(surface_);
    connection_.flush();
}

void LayerSurface::hide() {
    const bool wasMapped = configured_;
    destroy();
    if (wasMapped) {
        connection_.nudgePointer();
    }
}

void LayerSurface::closedByCompositor() {
    destroy();
    if (closed) {
        closed();
    }
}

void LayerSurface::destroy() {
    if (surface_ == nullptr) {
        return;
    }
    connection_.forgetPointer(surface_);
    zwlr_layer_surface_v1_destroy(layer_);
    wl_surface_destroy(surface_);
    layer_ = nullptr;
    surface_ = nullptr;
    configured_ = false;
    connection_.flush();
}

}  // namespace dovetrel::app
