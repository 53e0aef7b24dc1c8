#include "platform/qt/QtControls.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

namespace platform::qt {

using resources::ControlKind;

QFont dialogFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

namespace {

QString fromEngine(const char* text) { return QString::fromUtf8(text ? text : ""); }

bool isButton(ControlKind kind)
{
    return kind == ControlKind::pushButton || kind == ControlKind::bitmapButton || kind == ControlKind::checkBox ||
           kind == ControlKind::pushLikeCheckBox;
}

} // namespace

QtControl::QtControl(QWidget* widget, ControlKind kind, int id) : widget_(widget), kind_(kind), id_(id) {}

void QtControl::setScrollBar(std::unique_ptr<QtScrollBar> bar) { scrollBar_ = std::move(bar); }

void QtControl::show(bool visible)
{
    if (widget_) widget_->setVisible(visible);
}

void QtControl::enable(bool enabled)
{
    if (widget_) widget_->setEnabled(enabled);
}

void QtControl::setText(const char* text)
{
    if (!widget_) return;
    QString s = fromEngine(text);
    if (isButton(kind_)) {
        static_cast<QAbstractButton*>(widget_.data())->setText(s);
    } else if (kind_ == ControlKind::edit) {
        static_cast<QLineEdit*>(widget_.data())->setText(s);
    } else if (kind_ == ControlKind::console) {
        // The console keeps its lines with CR LF, as an edit control shows them.
        s.remove(QLatin1Char('\r'));
        static_cast<QPlainTextEdit*>(widget_.data())->setPlainText(s);
    } else if (kind_ == ControlKind::staticText) {
        static_cast<QLabel*>(widget_.data())->setText(s);
    } else if (kind_ == ControlKind::groupBox) {
        static_cast<QGroupBox*>(widget_.data())->setTitle(s);
    }
}

void QtControl::setRange(int low, int high)
{
    if (!widget_) return;
    if (kind_ == ControlKind::progressBar) {
        static_cast<QProgressBar*>(widget_.data())->setRange(low, high);
    } else if (kind_ == ControlKind::trackbar) {
        auto* slider = static_cast<QSlider*>(widget_.data());
        const QSignalBlocker quiet(slider);
        slider->setRange(low, high);
        // A click beside the thumb moves it by a fifth of the range.
        slider->setPageStep(std::max(1, (high - low) / 5));
    } else if (scrollBar_) {
        ScrollBar::Info info;
        info.min = low;
        info.max = high;
        scrollBar_->setInfo(info, ScrollBar::setsRange);
    }
}

void QtControl::setPosition(int position)
{
    if (!widget_) return;
    if (kind_ == ControlKind::progressBar) {
        static_cast<QProgressBar*>(widget_.data())->setValue(position);
    } else if (kind_ == ControlKind::trackbar) {
        auto* slider = static_cast<QSlider*>(widget_.data());
        const QSignalBlocker quiet(slider);
        slider->setValue(position);
    } else if (scrollBar_) {
        ScrollBar::Info info;
        info.pos = position;
        scrollBar_->setInfo(info, ScrollBar::setsPosition);
    }
}

void QtControl::scrollLines(int lines)
{
    if (!widget_ || kind_ != ControlKind::console) return;
    auto* console = static_cast<QPlainTextEdit*>(widget_.data());
    QScrollBar* bar = console->verticalScrollBar();
    const int target = bar->value() + lines;
    if (lines > 0 && target >= bar->maximum()) {
        // The range may not cover text that is not laid out yet: going to the
        // end through the cursor lays it out.
        console->moveCursor(QTextCursor::End);
        console->ensureCursorVisible();
        bar->setValue(bar->maximum());
    } else {
        bar->setValue(std::clamp(target, bar->minimum(), bar->maximum()));
    }
}

void QtControl::invalidate(bool)
{
    if (widget_) widget_->update();
}

Control* QtControl::child(int) { return nullptr; }

std::string QtControl::currentText()
{
    if (!widget_) return {};
    QString s;
    if (isButton(kind_)) s = static_cast<QAbstractButton*>(widget_.data())->text();
    else if (kind_ == ControlKind::edit) s = static_cast<QLineEdit*>(widget_.data())->text();
    else if (kind_ == ControlKind::console) s = static_cast<QPlainTextEdit*>(widget_.data())->toPlainText();
    else if (kind_ == ControlKind::staticText) s = static_cast<QLabel*>(widget_.data())->text();
    else if (kind_ == ControlKind::groupBox) s = static_cast<QGroupBox*>(widget_.data())->title();
    return s.toStdString();
}

int QtControl::currentPosition()
{
    if (!widget_) return 0;
    if (kind_ == ControlKind::progressBar) return static_cast<QProgressBar*>(widget_.data())->value();
    if (kind_ == ControlKind::trackbar) return static_cast<QSlider*>(widget_.data())->value();
    if (scrollBar_) return scrollBar_->info().pos;
    return 0;
}

bool QtControl::isChecked()
{
    if (!widget_ || !isButton(kind_)) return false;
    return static_cast<QAbstractButton*>(widget_.data())->isChecked();
}

void QtControl::setChecked(bool checked)
{
    if (!widget_ || !isButton(kind_)) return;
    auto* button = static_cast<QAbstractButton*>(widget_.data());
    if (button->isCheckable()) button->setChecked(checked);
}

void QtControl::setToolTip(const char* text)
{
    if (!widget_) return;
    widget_->setToolTip(fromEngine(text));
    widget_->setToolTipDuration(6000);
}

QtScrollBar::QtScrollBar(QScrollBar* bar, Report report) : bar_(bar), report_(std::move(report))
{
    bar->setSingleStep(1);
    // Its menu would move the bar by itself ("Scroll here").
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    QObject::connect(bar, &QAbstractSlider::actionTriggered, bar, [this](int action) { onAction(action); });
    QObject::connect(bar, &QAbstractSlider::sliderReleased, bar, [this] { onReleased(); });
    apply();
}

int QtScrollBar::highestPosition() const
{
    const int highest = info_.page > 0 ? info_.max - info_.page + 1 : info_.max;
    return std::max(highest, info_.min);
}

void QtScrollBar::apply()
{
    if (!bar_) return;
    const QSignalBlocker quiet(bar_.data());
    bar_->setRange(info_.min, highestPosition());
    bar_->setPageStep(std::max(info_.page, 1));
    // While the thumb is dragged it stays under the mouse; it goes to the
    // position on release.
    if (!bar_->isSliderDown()) bar_->setValue(info_.pos);
}

void QtScrollBar::setInfo(const Info& info, unsigned mask)
{
    if (mask & setsRange) {
        info_.min = info.min;
        info_.max = std::max(info.max, info.min);
    }
    if (mask & setsPage) info_.page = info.page;
    info_.page = std::clamp(info_.page, 0, info_.max - info_.min + 1);
    if (mask & setsPosition) info_.pos = info.pos;
    info_.pos = std::clamp(info_.pos, info_.min, highestPosition());
    apply();
}

int QtScrollBar::trackPosition()
{
    if (bar_ && bar_->isSliderDown()) return bar_->sliderPosition();
    return info_.pos;
}

void QtScrollBar::onAction(int action)
{
    int code;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: code = scrollLineLeft; break;
    case QAbstractSlider::SliderSingleStepAdd: code = scrollLineRight; break;
    case QAbstractSlider::SliderPageStepSub: code = scrollPageLeft; break;
    case QAbstractSlider::SliderPageStepAdd: code = scrollPageRight; break;
    case QAbstractSlider::SliderMove:
        // The thumb follows the mouse; the program reads the track position.
        report_(scrollThumbTrack);
        return;
    default:
        code = -1;
        break;
    }
    // Qt has already moved the slider; put it back: only the program moves it.
    if (bar_) bar_->setSliderPosition(info_.pos);
    if (code >= 0) report_(code);
}

void QtScrollBar::onReleased()
{
    report_(scrollThumbPosition);
    report_(scrollEnd);
    if (bar_) {
        const QSignalBlocker quiet(bar_.data());
        bar_->setValue(info_.pos);
    }
}

} // namespace platform::qt
