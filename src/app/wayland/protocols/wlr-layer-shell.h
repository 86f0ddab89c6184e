// The layer shell's client header for C++: its generated code names an argument `namespace`.
// This directory is a system include path, where the keyword may be redefined for a moment.
#pragma once

#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
