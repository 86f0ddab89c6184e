// The symbols beside release notes: the icon theme's picture where it has one, else a glyph
// drawn in code, so the notes read alike on every desktop.
#pragma once

#include <QString>
#include <QWidget>

namespace dovetrel::app {

// A release-note symbol in a 14 x 14 frame: the icon theme's picture for it where the theme
// has one, tinted to the text level, else a glyph drawn here.
class SymbolGlyph : public QWidget {
  public:
    explicit SymbolGlyph(const QString& symbolName, QWidget* parent = nullptr);
    QString symbolName() const { return symbolName_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString symbolName_;
};

// The freedesktop icon name standing in for a system symbol name; empty when none fits.
QString themeIconName(const QString& symbolName);

}  // namespace dovetrel::app
