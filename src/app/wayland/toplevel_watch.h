// Whether the window in front fills its output, where the compositor lists other clients'
// windows (the wlr foreign-toplevel list: sway, labwc). KWin and GNOME keep that list to
// themselves.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;

namespace dovetrel::app {

class WaylandConnection;

class ToplevelWatch {
  public:
    // nullptr where the list is not offered, or too old to tell full screen.
    static std::unique_ptr<ToplevelWatch> open(WaylandConnection& connection);
    ~ToplevelWatch();
    ToplevelWatch(const ToplevelWatch&) = delete;
    ToplevelWatch& operator=(const ToplevelWatch&) = delete;

    // Whether some window has the focus, and whether that window is full screen.
    bool hasActive() const;
    bool activeIsFullScreen() const;

    // The listeners, called from C.
    void added(zwlr_foreign_toplevel_handle_v1* toplevel);
    void stateChanged(zwlr_foreign_toplevel_handle_v1* toplevel, uint32_t state);
    void done(zwlr_foreign_toplevel_handle_v1* toplevel);
    void closed(zwlr_foreign_toplevel_handle_v1* toplevel);

  private:
    explicit ToplevelWatch(zwlr_foreign_toplevel_manager_v1* manager);

    // What a window is, as bits of the protocol's states; `pending` until the compositor
    // says the batch is done.
    struct States {
        uint32_t pending = 0;
        uint32_t current = 0;
    };
    zwlr_foreign_toplevel_manager_v1* manager_;
    std::map<zwlr_foreign_toplevel_handle_v1*, States> toplevels_;
};

}  // namespace dovetrel::app
