// Where the compositor tells only that some input happened while the square is up (Wayland's
// idle notifications, GNOME's user-active watch), the pointer moving on the square is input
// too: the square reports that itself, perhaps a little later, and only what it did not
// report counts as other input.
#pragma once

#include <QObject>
#include <functional>

namespace dovetrel::app {

class SquareInputEdges {
  public:
    explicit SquareInputEdges(std::function<void()> otherInput)
        : otherInput_(std::move(otherInput)) {}

    // The square told of the pointer moving, leaving or scrolling on it.
    void squareEvent();
    // Input of some kind happened just now; `otherInput` runs soon unless the square tells of
    // the pointer around this moment.
    void inputEdge();

  private:
    std::function<void()> otherInput_;
    // When the square last told of the pointer (milliseconds).
    qint64 lastSquareEvent_ = -1'000'000;
    // Ends the pending checks with it.
    QObject context_;
};

}  // namespace dovetrel::app
