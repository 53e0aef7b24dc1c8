#pragma once
// Qt widgets behind the platform's controls and scroll bars.
#include "platform/Control.h"
#include "platform/ScrollBar.h"
#include "resources/DialogTemplates.h"

#include <QFont>
#include <QPointer>
#include <QScrollBar>
#include <QWidget>

#include <functional>
#include <memory>

namespace platform::qt {

class QtScrollBar;

// The font of the dialogs and of the panes' text: an 8-point sans.
QFont dialogFont();

// One control of a dialog. The widget belongs to its dialog; once the dialog is
// gone every call does nothing, as a call on a destroyed window handle would.
class QtControl : public Control {
public:
    QtControl(QWidget* widget, resources::ControlKind kind, int id);
    QWidget* widget() const { return widget_; }
    resources::ControlKind kind() const { return kind_; }
    int id() const { return id_; }

    void show(bool visible) override;
    void enable(bool enabled) override;
    void setText(const char* text) override;
    void setRange(int low, int high) override;
    void setPosition(int position) override;
    void scrollLines(int lines) override;
    void invalidate(bool erase) override;
    Control* child(int id) override;
    std::string currentText() override;
    int currentPosition() override;
    bool isChecked() override;
    void setChecked(bool checked) override;
    void setToolTip(const char* text) override;

    // The scroll bar behind a scroll bar control, else null.
    QtScrollBar* scrollBar() const { return scrollBar_.get(); }
    void setScrollBar(std::unique_ptr<QtScrollBar> bar);

private:
    QPointer<QWidget> widget_;
    resources::ControlKind kind_;
    int id_;
    std::unique_ptr<QtScrollBar> scrollBar_;
};

// A classic desktop scroll bar over QScrollBar. Its position only changes when
// the program sets it: a click on an arrow or the page area is reported as an
// action and the thumb stays where it was; a dragged thumb follows the mouse
// (the track position) and returns to the set position on release unless the
// program has moved it there.
class QtScrollBar final : public ScrollBar {
public:
    using Report = std::function<void(int code)>;
    QtScrollBar(QScrollBar* bar, Report report);

    void setInfo(const Info& info, unsigned mask) override;
    Info info() override { return info_; }
    int trackPosition() override;

private:
    void onAction(int action);
    void onReleased();
    int highestPosition() const;
    void apply();

    QPointer<QScrollBar> bar_;
    Report report_;
    Info info_{0, 100, 0, 0};
};

} // namespace platform::qt
