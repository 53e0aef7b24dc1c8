#pragma once
// Dialog windows over Qt Widgets: borderless top-level windows built from the
// dialog templates, their Qt events turned into DialogHandler calls.
#include "platform/Window.h"
#include "platform/qt/QtControls.h"
#include "resources/DialogTemplates.h"

#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

namespace platform::qt {

class DialogWidget;

class QtDialogWindow final : public Window {
public:
    QtDialogWindow(const resources::DialogTemplate& dialog, DialogHandler& handler);
    ~QtDialogWindow() override;
    QtDialogWindow(const QtDialogWindow&) = delete;
    QtDialogWindow& operator=(const QtDialogWindow&) = delete;

    // The top-level widget; null once the window is destroyed and gone.
    QWidget* widget() const;
    QtControl* control(int id) const;
    // Every control, in template order.
    const std::vector<std::unique_ptr<QtControl>>& controls() const { return controls_; }
    bool destroyed() const { return destroyed_; }

    // Control: the dialog itself.
    void show(bool visible) override;
    void enable(bool enabled) override;
    void setText(const char* text) override { setTitle(text); }
    void setRange(int, int) override {}
    void setPosition(int) override {}
    void scrollLines(int) override {}
    void invalidate(bool erase) override;
    Control* child(int id) override { return control(id); }
    std::string currentText() override;
    int currentPosition() override { return 0; }
    bool isChecked() override { return false; }
    void setChecked(bool) override {}
    void setToolTip(const char* text) override;

    // Window.
    ScrollBar* scrollBar(int id) override;
    Size clientSize() override;
    void invalidateRect(const Rect& r, bool erase) override;
    void setTitle(const char* title) override;
    uint64_t nativeId() override;
    void minimise() override;
    void sendClose() override;
    void destroy() override;
    Point cursorScreenPosition() override;
    Point cursorClientPosition() override;
    Size dialogFrame() override;
    void moveTo(Point topLeft) override;
    void captureMouse(bool capture) override;
    bool beginSystemMove() override;

private:
    friend class DialogWidget;
    friend class QtWindowSystem;

    // Every call into the handler goes through here: none once the window is
    // destroyed, and the widget is deleted only when no handler call of this
    // window is running any more.
    template <class Call>
    void deliver(Call&& call);
    void connectControl(QtControl& control);
    void mouseButton(bool press, Qt::MouseButton button, QPoint client, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers modifiers);
    void mouseMove(QPoint client, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    // A key press for the handler; true when it took it.
    bool key(const QKeyEvent* e);
    void wheel(QPoint client, int delta, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    void endSystemMoveIfOver(QPoint client, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);

    DialogHandler& handler_;
    QPointer<DialogWidget> widget_;
    std::vector<std::unique_ptr<QtControl>> controls_;
    int handlerDepth_ = 0;
    bool destroyed_ = false;
    bool captured_ = false;
    bool systemMoving_ = false;
    int wheelRest_ = 0;
};

// Needs the QApplication for its whole life: create it after the application
// object and destroy it before.
class QtWindowSystem final : public WindowSystem {
public:
    QtWindowSystem() = default;
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;

    // Destroyed windows stay here, inert, until the window system goes: the
    // program may still hold pointers to them or their controls.
    QtDialogWindow* createDialog(const char* templateName, DialogHandler& handler) override;

private:
    std::vector<std::unique_ptr<QtDialogWindow>> windows_;
};

} // namespace platform::qt
