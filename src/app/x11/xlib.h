// Xlib and its extensions. Include after every Qt header: Xlib defines macros such as
// Status, Bool and None that break Qt's headers.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
