#include "platform/qt/QtWindowSystem.h"

#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtDialogBuilder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QStyle>
#include <QWindow>

namespace platform::qt {

using resources::ControlKind;

namespace {
bool movesASlider(int key);

// The local files among dropped URLs, as the file system names them.
std::vector<std::string> localFiles(const QMimeData* data)
{
    std::vector<std::string> files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QByteArray name = QFile::encodeName(url.toLocalFile());
        files.emplace_back(name.constData(), static_cast<size_t>(name.size()));
    }
    return files;
}
}

// The top-level widget of a dialog window: its own background, mouse, wheel,
// paint and close events go to the window's handler.
class DialogWidget final : public QWidget {
public:
    explicit DialogWidget(QtDialogWindow& window) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), window_(window)
    {
        setMouseTracking(true);
        setAcceptDrops(true);
    }
    // Filters a control's events: its wheel goes to the dialog when asked, its
    // mouse input while it is disabled.
    void watch(QWidget* control, bool wheelToDialog)
    {
        control->installEventFilter(this);
        if (wheelToDialog) wheelToDialog_.insert(control);
    }

protected:
    bool event(QEvent* e) override
    {
        // Before QWidget's own handling, which would take Tab for the focus chain.
        if (e->type() == QEvent::KeyPress && window_.key(static_cast<QKeyEvent*>(e))) return true;
        return QWidget::event(e);
    }
    void dragEnterEvent(QDragEnterEvent* e) override
    {
        if (!localFiles(e->mimeData()).empty()) e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override
    {
        const std::vector<std::string> files = localFiles(e->mimeData());
        bool taken = false;
        if (!files.empty()) window_.deliver([&](DialogHandler& h) { taken = h.onDropFiles(files); });
        if (taken) e->acceptProposedAction();
        else e->ignore();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QtCanvas canvas(painter);
        window_.deliver([&](DialogHandler& h) { h.onPaint(canvas); });
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        window_.mouseButton(true, e->button(), e->position().toPoint(), e->buttons(), e->modifiers());
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        window_.mouseButton(false, e->button(), e->position().toPoint(), e->buttons(), e->modifiers());
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        window_.mouseMove(e->position().toPoint(), e->buttons(), e->modifiers());
    }
    void wheelEvent(QWheelEvent* e) override
    {
        window_.wheel(e->position().toPoint(), e->angleDelta().y(), e->buttons(), e->modifiers());
    }
    void closeEvent(QCloseEvent* e) override
    {
        // The handler decides; destroy() ends the window.
        e->ignore();
        window_.deliver([](DialogHandler& h) { h.onClose(); });
    }
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (!watched->isWidgetType()) return false;
        auto* control = static_cast<QWidget*>(watched);
        switch (e->type()) {
        case QEvent::KeyPress: {
            // The keys the dialog takes act whichever control has the focus, but
            // a slider or scroll bar with the focus keeps its own moving keys.
            auto* key = static_cast<QKeyEvent*>(e);
            if (qobject_cast<QAbstractSlider*>(control) && movesASlider(key->key())) return false;
            return window_.key(key);
        }
        case QEvent::Wheel: {
            // The console and the scroll bars would scroll themselves; their
            // wheel turns belong to the dialog, which scrolls the pane under
            // the cursor.
            if (!wheelToDialog_.contains(control)) return false;
            auto* wheel = static_cast<QWheelEvent*>(e);
            window_.wheel(control->mapTo(this, wheel->position().toPoint()), wheel->angleDelta().y(), wheel->buttons(),
                          wheel->modifiers());
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove: {
            // A disabled control's mouse input goes to the dialog under it.
            if (control->isEnabled()) return false;
            auto* mouse = static_cast<QMouseEvent*>(e);
            const QPoint client = control->mapTo(this, mouse->position().toPoint());
            if (e->type() == QEvent::MouseMove) window_.mouseMove(client, mouse->buttons(), mouse->modifiers());
            else window_.mouseButton(e->type() != QEvent::MouseButtonRelease, mouse->button(), client, mouse->buttons(),
                                     mouse->modifiers());
            return true;
        }
        default:
            return false;
        }
    }

private:
    QtDialogWindow& window_;
    QSet<QObject*> wheelToDialog_;
};

namespace {

MouseEvent mouseEvent(QPoint client, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    MouseEvent e;
    e.client = {client.x(), client.y()};
    e.leftButton = buttons & Qt::LeftButton;
    e.rightButton = buttons & Qt::RightButton;
    e.middleButton = buttons & Qt::MiddleButton;
    e.shift = modifiers & Qt::ShiftModifier;
    e.control = modifiers & Qt::ControlModifier;
    return e;
}

bool movesASlider(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: return true;
    default: return false;
    }
}

KeyEvent keyEvent(const QKeyEvent* e)
{
    KeyEvent k;
    const Qt::KeyboardModifiers m = e->modifiers();
    k.shift = m & Qt::ShiftModifier;
    k.control = m & Qt::ControlModifier;
    k.alt = m & Qt::AltModifier;
    const int key = e->key();
    switch (key) {
    case Qt::Key_Left: k.key = Key::left; break;
    case Qt::Key_Right: k.key = Key::right; break;
    case Qt::Key_Up: k.key = Key::up; break;
    case Qt::Key_Down: k.key = Key::down; break;
    case Qt::Key_PageUp: k.key = Key::pageUp; break;
    case Qt::Key_PageDown: k.key = Key::pageDown; break;
    case Qt::Key_Home: k.key = Key::home; break;
    case Qt::Key_End: k.key = Key::end; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: k.key = Key::enter; break;
    case Qt::Key_Insert: k.key = Key::insert; break;
    case Qt::Key_Delete: k.key = Key::del; break;
    case Qt::Key_Escape: k.key = Key::escape; break;
    case Qt::Key_Space: k.key = Key::space; break;
    case Qt::Key_Tab: k.key = Key::tab; break;
    case Qt::Key_Backtab: k.key = Key::backtab; break;
    case Qt::Key_F1: k.key = Key::f1; break;
    case Qt::Key_F2: k.key = Key::f2; break;
    default:
        // Letters and the signs on their keys by the key, whatever Shift and Ctrl
        // make of its text.
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            k.key = Key::character;
            k.character = static_cast<char>('a' + (key - Qt::Key_A));
        } else if (key >= 0x21 && key <= 0x7E) {
            k.key = Key::character;
            k.character = static_cast<char>(key);
        }
        break;
    }
    return k;
}

int trackbarCode(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return scrollLineLeft;
    case QAbstractSlider::SliderSingleStepAdd: return scrollLineRight;
    case QAbstractSlider::SliderPageStepSub: return scrollPageLeft;
    case QAbstractSlider::SliderPageStepAdd: return scrollPageRight;
    case QAbstractSlider::SliderMove: return scrollThumbTrack;
    default: return scrollThumbPosition;
    }
}

} // namespace

template <class Call>
void QtDialogWindow::deliver(Call&& call)
{
    if (destroyed_) return;
    ++handlerDepth_;
    call(handler_);
    --handlerDepth_;
    if (destroyed_ && handlerDepth_ == 0 && widget_) widget_->deleteLater();
}

QtDialogWindow::QtDialogWindow(const resources::DialogTemplate& dialog, DialogHandler& handler)
    : handler_(handler), widget_(new DialogWidget(*this))
{
    widget_->setObjectName(QString::fromLatin1(dialog.name));
    widget_->setFont(dialogFont());
    // The classic light dialog colours under the controls, whatever the desktop's
    // theme: the skin around them is dark.
    widget_->setPalette(QApplication::style()->standardPalette());
    widget_->setFixedSize(pixelSize(dialog));
    controls_ = buildDialogControls(dialog, widget_);
    for (auto& c : controls_) connectControl(*c);
}

QtDialogWindow::~QtDialogWindow() { delete widget_.data(); }

QWidget* QtDialogWindow::widget() const { return widget_.data(); }

QtControl* QtDialogWindow::control(int id) const
{
    for (const auto& c : controls_)
        if (c->id() == id) return c.get();
    return nullptr;
}

void QtDialogWindow::connectControl(QtControl& control)
{
    QWidget* w = control.widget();
    const int id = control.id();
    widget_->watch(w, control.kind() == ControlKind::scrollBar);
    switch (control.kind()) {
    case ControlKind::pushButton:
    case ControlKind::bitmapButton:
    case ControlKind::checkBox:
    case ControlKind::pushLikeCheckBox:
        // clicked() comes after a check box has toggled, and only from the user.
        QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, w, [this, id] {
            deliver([id](DialogHandler& h) { h.onCommand(id, commandClicked); });
        });
        break;
    case ControlKind::edit:
        // Like an edit control, a text set by the program is a change too.
        QObject::connect(static_cast<QLineEdit*>(w), &QLineEdit::textChanged, w, [this, id] {
            deliver([id](DialogHandler& h) { h.onCommand(id, commandEditChanged); });
        });
        break;
    case ControlKind::scrollBar:
        control.setScrollBar(std::make_unique<QtScrollBar>(static_cast<QScrollBar*>(w), [this, id](int code) {
            deliver([id, code](DialogHandler& h) { h.onHorizontalScroll(id, code); });
        }));
        break;
    case ControlKind::trackbar: {
        auto* slider = static_cast<QSlider*>(w);
        auto code = std::make_shared<int>(scrollThumbTrack);
        QObject::connect(slider, &QAbstractSlider::actionTriggered, slider, [code](int action) { *code = trackbarCode(action); });
        QObject::connect(slider, &QAbstractSlider::valueChanged, slider, [this, id, code] {
            const int c = *code;
            *code = scrollThumbTrack;
            deliver([id, c](DialogHandler& h) { h.onHorizontalScroll(id, c); });
        });
        QObject::connect(slider, &QAbstractSlider::sliderReleased, slider, [this, id] {
            deliver([id](DialogHandler& h) { h.onHorizontalScroll(id, scrollEnd); });
        });
        break;
    }
    case ControlKind::console: {
        auto* console = static_cast<QPlainTextEdit*>(w);
        widget_->watch(console->viewport(), true);
        widget_->watch(console->verticalScrollBar(), true);
        break;
    }
    default:
        break;
    }
}

void QtDialogWindow::mouseButton(bool press, Qt::MouseButton button, QPoint client, Qt::MouseButtons buttons,
                                 Qt::KeyboardModifiers modifiers)
{
    const MouseEvent e = mouseEvent(client, buttons, modifiers);
    if (press) {
        endSystemMoveIfOver(client, buttons & ~Qt::MouseButtons(button), modifiers);
        if (button == Qt::LeftButton) deliver([&](DialogHandler& h) { h.onLeftButtonDown(e); });
        else if (button == Qt::RightButton) deliver([&](DialogHandler& h) { h.onRightButtonDown(e); });
    } else if (button == Qt::LeftButton) {
        systemMoving_ = false;
        deliver([&](DialogHandler& h) { h.onLeftButtonUp(e); });
    }
}

void QtDialogWindow::mouseMove(QPoint client, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    endSystemMoveIfOver(client, buttons, modifiers);
    const MouseEvent e = mouseEvent(client, buttons, modifiers);
    deliver([&](DialogHandler& h) { h.onMouseMove(e); });
}

// The window system keeps the button's release of a move it ran; the first
// mouse event without the button tells that it is over.
void QtDialogWindow::endSystemMoveIfOver(QPoint client, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    if (!systemMoving_ || (buttons & Qt::LeftButton)) return;
    systemMoving_ = false;
    const MouseEvent e = mouseEvent(client, buttons, modifiers);
    deliver([&](DialogHandler& h) { h.onLeftButtonUp(e); });
}

bool QtDialogWindow::key(const QKeyEvent* e)
{
    const KeyEvent k = keyEvent(e);
    if (k.key == Key::other) return false;
    bool taken = false;
    deliver([&](DialogHandler& h) { taken = h.onKey(k); });
    return taken;
}

void QtDialogWindow::wheel(QPoint client, int delta, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    // Fine-grained wheels and touchpads send parts of a notch: one turn is
    // reported per whole notch (120) in one direction.
    if (delta == 0) return;
    if ((wheelRest_ > 0) != (delta > 0)) wheelRest_ = 0;
    wheelRest_ += delta;
    if (wheelRest_ > -120 && wheelRest_ < 120) return;
    const int turned = wheelRest_;
    wheelRest_ = 0;
    const MouseEvent e = mouseEvent(client, buttons, modifiers);
    deliver([&](DialogHandler& h) { h.onWheel(turned, e); });
}

void QtDialogWindow::show(bool visible)
{
    if (!widget_) return;
    widget_->setVisible(visible);
    if (visible) {
        widget_->raise();
        widget_->activateWindow();
    }
}

void QtDialogWindow::enable(bool enabled)
{
    if (widget_) widget_->setEnabled(enabled);
}

void QtDialogWindow::invalidate(bool)
{
    if (widget_) widget_->update();
}

std::string QtDialogWindow::currentText() { return widget_ ? widget_->windowTitle().toStdString() : std::string(); }

void QtDialogWindow::setToolTip(const char* text)
{
    if (!widget_) return;
    widget_->setToolTip(QString::fromUtf8(text ? text : ""));
    widget_->setToolTipDuration(6000);
}

ScrollBar* QtDialogWindow::scrollBar(int id)
{
    QtControl* c = control(id);
    return c ? c->scrollBar() : nullptr;
}

Size QtDialogWindow::clientSize() { return widget_ ? Size{widget_->width(), widget_->height()} : Size{}; }

void QtDialogWindow::invalidateRect(const Rect& r, bool)
{
    if (widget_ && !r.empty()) widget_->update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

void QtDialogWindow::setTitle(const char* title)
{
    if (!widget_) return;
    QString t = QString::fromUtf8(title ? title : "");
    // A title ends with its line, not with an empty second one.
    while (t.endsWith(QLatin1Char('\n')) || t.endsWith(QLatin1Char('\r'))) t.chop(1);
    widget_->setWindowTitle(t);
}

uint64_t QtDialogWindow::nativeId() { return widget_ ? static_cast<uint64_t>(widget_->winId()) : 0; }

void QtDialogWindow::minimise()
{
    if (widget_) widget_->showMinimized();
}

void QtDialogWindow::sendClose()
{
    deliver([](DialogHandler& h) { h.onClose(); });
}

void QtDialogWindow::destroy()
{
    if (destroyed_) return;
    destroyed_ = true;
    if (!widget_) return;
    if (captured_) widget_->releaseMouse();
    captured_ = false;
    widget_->hide();
    if (handlerDepth_ == 0) widget_->deleteLater();
}

Point QtDialogWindow::cursorScreenPosition()
{
    const QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}

Point QtDialogWindow::cursorClientPosition()
{
    const QPoint p = widget_ ? widget_->mapFromGlobal(QCursor::pos()) : QCursor::pos();
    return {p.x(), p.y()};
}

Size QtDialogWindow::dialogFrame()
{
    // Borderless: no frame unless the window system adds one.
    if (!widget_) return {};
    const QRect inner = widget_->geometry(), outer = widget_->frameGeometry();
    return {inner.x() - outer.x(), inner.y() - outer.y()};
}

void QtDialogWindow::moveTo(Point topLeft)
{
    if (widget_) widget_->move(topLeft.x, topLeft.y);
}

void QtDialogWindow::captureMouse(bool capture)
{
    if (!widget_ || capture == captured_) return;
    if (capture && systemMoving_) return;
    if (capture) widget_->grabMouse();
    else widget_->releaseMouse();
    captured_ = capture;
}

bool QtDialogWindow::beginSystemMove()
{
    // Only where the program cannot place its windows itself.
    if (!widget_ || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return false;
    QWindow* window = widget_->windowHandle();
    if (!window || !window->startSystemMove()) return false;
    if (captured_) widget_->releaseMouse();
    captured_ = false;
    systemMoving_ = true;
    return true;
}

QtWindowSystem::~QtWindowSystem() = default;

QtDialogWindow* QtWindowSystem::createDialog(const char* templateName, DialogHandler& handler)
{
    const resources::DialogTemplate* dialog = resources::findDialogTemplate(templateName);
    if (!dialog || !qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    windows_.push_back(std::make_unique<QtDialogWindow>(*dialog, handler));
    QtDialogWindow* window = windows_.back().get();
    window->deliver([window](DialogHandler& h) { h.onInit(*window); });
    return window;
}

} // namespace platform::qt
