// The settings window's content on Qt Widgets: header, tab switcher, the Settings tab and
// What's New, drawn from the core's SettingsModel.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "core/platform.h"
#include "core/settings_model.h"

class QAbstractAnimation;
class QBoxLayout;
class QScrollArea;

namespace dovetrel::app {

class GridSlider;
class PlateButton;
class ValueBadge;

// The whole window. It keeps no copy of a preference: refresh() re-reads the model into
// the few controls that hold state of their own, and every painted piece asks the model
// again when it repaints.
class SettingsPanel final : public QWidget {
  public:
    explicit SettingsPanel(Platform& platform);

    void refresh();
    // Runs when the user closes the window; it may destroy the SettingsWindow that owns
    // this panel.
    std::function<void()> onClose;
    bool isClosing() const { return closing_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QWidget* buildHeader();
    QWidget* buildTabSwitcher();
    QWidget* buildSettingsTab();
    QWidget* buildWhatsNewTab();
    void addSliderRow(QBoxLayout* parent, const QString& label, const char* name,
                      GridSlider*& slider, ValueBadge*& badge, std::function<QString()> display);
    void selectTab(SettingsTab tab);
    void selectRelease(const std::string& id);
    void showSelectedRelease();
    void styleScrollBar();
    QWidget* shownTab() const;
    // Ends a cross-fade still running, so that the next one starts from a still picture.
    void finishFade();

    Platform& platform_;
    SettingsModel model_;
    QWidget* settingsTab_ = nullptr;
    QWidget* whatsNewTab_ = nullptr;
    GridSlider* timeoutSlider_ = nullptr;
    GridSlider* sizeSlider_ = nullptr;
    ValueBadge* timeoutBadge_ = nullptr;
    ValueBadge* sizeBadge_ = nullptr;
    PlateButton* resetButton_ = nullptr;
    QScrollArea* notes_ = nullptr;
    // The release whose notes the pane holds; nullopt before the first is built.
    std::optional<std::string> shownReleaseID_;
    QPointer<QAbstractAnimation> fade_;
    bool closing_ = false;
};

}  // namespace dovetrel::app
