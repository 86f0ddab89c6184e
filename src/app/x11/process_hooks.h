// What the X adapter must change for the whole process: Xlib's handling of a lost connection,
// and the terminal's stop signals. Both are process-wide, so each is set in one place.
#pragma once

struct _XDisplay;

namespace dovetrel::app {

// Xlib's I/O error handler is process-wide and its default ends the process. From now on the
// loss of `display` calls `onLoss(display, context)` instead (from inside Xlib: set a flag,
// nothing more); the loss of any other display goes to the handler that was in place (Qt's,
// which ends the program when its own connection breaks).
void surviveLossOf(_XDisplay* display, void (*onLoss)(_XDisplay*, void*), void* context);
// Before `display` is closed.
void forgetSurvivor(_XDisplay* display);

// Ctrl-Z in the terminal that started us (SIGTSTP, SIGTTIN, SIGTTOU) writes to the eventfd
// `fd` instead of stopping the process at once, so that whoever reads it can let go of the
// pointer first and then stop the process; -1 stops it at once again.
void routeStopSignalsTo(int fd);
// Routes them back to stopping at once, unless they have been routed elsewhere since.
void stopRoutingStopSignalsTo(int fd);
// Stops the whole process, as the terminal's signal would have, from the calling thread, which
// stops first: it cannot run on (and take grabs again) while the stop reaches the others.
void stopProcess();
// Keeps the terminal's stop signals off the calling thread; the other threads take them.
void keepJobControlSignalsAway();

}  // namespace dovetrel::app
