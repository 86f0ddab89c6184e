// The small custom-painted pieces of the settings window. Each draws from the palette, so it
// reads in light and dark themes, and asks a getter for what it shows every time it paints,
// so a repaint is all it takes to show the current preferences.
#pragma once

#include <QAbstractButton>
#include <QFont>
#include <QLabel>
#include <QSlider>
#include <QString>
#include <QWidget>
#include <functional>

#include "app/ui/settings/look.h"

namespace dovetrel {
struct Release;
}

namespace dovetrel::app {

// A label whose text takes a hierarchical level of the palette's text colour. It wraps when
// word wrap is on, measuring itself as QLabel does.
class LevelLabel : public QLabel {
  public:
    LevelLabel(const QString& text, const QFont& font, TextLevel level, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TextLevel level_;
};

// A button drawn entirely by its subclass; it shows a focus ring only when reached with the
// keyboard, so opening the window does not ring its first control.
class PaintedButton : public QAbstractButton {
  public:
    explicit PaintedButton(QWidget* parent = nullptr);

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void drawFocusRing(QPainter& painter, const QRectF& rect, double radius) const;

  private:
    bool keyboardFocus_ = false;
};

// The program's mark: a 48 x 48 rounded tile with the pointer arrow.
class IconTile : public QWidget {
  public:
    explicit IconTile(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A text link in blue that opens its destination when pressed.
class LinkButton : public PaintedButton {
  public:
    LinkButton(const QString& label, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The rounded well behind the tab buttons.
class SegmentedWell : public QWidget {
  public:
    explicit SegmentedWell(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// One tab button, lifted onto the control background while selected.
class TabButton : public PaintedButton {
  public:
    TabButton(const QString& title, std::function<bool()> isSelected, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::function<bool()> isSelected_;
};

// The full-width status pill: a green dot and "Active", or a grey dot and "Disabled".
class StatusPill : public PaintedButton {
  public:
    StatusPill(std::function<bool()> isOn, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::function<bool()> isOn_;
};

// A hairline across (horizontal) or down (vertical) the widget.
class Divider : public QWidget {
  public:
    explicit Divider(Qt::Orientation orientation, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Qt::Orientation orientation_;
};

// A value in monospaced digits on a small rounded plate.
class ValueBadge : public QWidget {
  public:
    ValueBadge(std::function<QString()> text, QWidget* parent = nullptr);
    QString text() const { return text_(); }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::function<QString()> text_;
};

// A small slider with a thin track and a round knob. Hit-testing stays the style's, so the
// knob is drawn where the style places the handle; a press on the track jumps there.
class GridSlider : public QSlider {
  public:
    explicit GridSlider(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A switch in the small size, on or off as its getter says.
class MiniSwitch : public PaintedButton {
  public:
    MiniSwitch(std::function<bool()> isOn, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::function<bool()> isOn_;
};

// A full-width plain button on a faint plate, dimmed while it is disabled.
class PlateButton : public PaintedButton {
  public:
    PlateButton(const QString& title, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// One release in the What's New list: its version, a green dot on the latest, and a raised
// plate while selected.
class ReleaseChip : public PaintedButton {
  public:
    ReleaseChip(const QString& version, bool isLatest, std::function<bool()> isSelected,
                QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool isLatest_;
    std::function<bool()> isSelected_;
};

// The notes' first line: version, a "Latest" capsule on the newest release, and the date at
// the right edge, all on one baseline.
class ReleaseHeader : public QWidget {
  public:
    ReleaseHeader(const Release& release, bool isLatest, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString version_;
    QString date_;
    bool isLatest_;
};

}  // namespace dovetrel::app
