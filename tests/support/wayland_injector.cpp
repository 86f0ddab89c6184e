// A pointer for tests on a headless wlroots compositor, which has no input devices: one
// zwlr_virtual_pointer_v1, driven by lines on stdin, each answered by "ok" once the compositor
// has taken it. Commands: "move X Y" (absolute, output pixels), "nudge" (zero-length motion),
// "press BUTTON", "release BUTTON", "click BUTTON" (Linux button codes), "scroll STEPS".
// Arguments: the output's width and height.
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

wl_seat* seat = nullptr;
zwlr_virtual_pointer_manager_v1* manager = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

const wl_registry_listener kRegistry = {.global = global,
                                        .global_remove = [](void*, wl_registry*, uint32_t) {}};

}  // namespace

int main(int argc, char** argv) {
    const uint32_t width = argc > 2 ? uint32_t(std::atoi(argv[1])) : 1280;
    const uint32_t height = argc > 2 ? uint32_t(std::atoi(argv[2])) : 720;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wayland_injector: no compositor\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &kRegistry, nullptr);
    wl_display_roundtrip(display);
    if (seat == nullptr || manager == nullptr) {
        std::fprintf(stderr, "wayland_injector: no seat or virtual pointer manager\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    uint32_t time = 1;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        time += 10;
        if (command == "move") {
            uint32_t x = 0, y = 0;
            words >> x >> y;
            zwlr_virtual_pointer_v1_motion_absolute(pointer, time, x, y, width, height);
        } else if (command == "nudge") {
            zwlr_virtual_pointer_v1_motion(pointer, time, 0, 0);
        } else if (command == "press" || command == "release" || command == "click") {
            uint32_t button = 0;
            words >> button;
            if (command != "release") {
                zwlr_virtual_pointer_v1_button(pointer, time, button,
                                               WL_POINTER_BUTTON_STATE_PRESSED);
                zwlr_virtual_pointer_v1_frame(pointer);
            }
            if (command != "press") {
                zwlr_virtual_pointer_v1_button(pointer, time + 1, button,
                                               WL_POINTER_BUTTON_STATE_RELEASED);
            }
        } else if (command == "scroll") {
            double steps = 0;
            words >> steps;
            zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(pointer, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                                  wl_fixed_from_double(steps * 15), int32_t(steps));
        } else {
            std::cout << "unknown " << command << std::endl;
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            return 1;
        }
        std::cout << "ok" << std::endl;
    }
    wl_display_disconnect(display);
    return 0;
}
