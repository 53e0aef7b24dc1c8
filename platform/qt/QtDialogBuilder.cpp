#include "platform/qt/QtDialogBuilder.h"

#include "resources/bitmaps/Bitmaps.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>

namespace platform::qt {

using resources::ControlKind;
using resources::ControlTemplate;
using resources::dluToPixelsX;
using resources::dluToPixelsY;

QRect pixelRect(const ControlTemplate& c)
{
    const int left = dluToPixelsX(c.x), top = dluToPixelsY(c.y);
    return QRect(left, top, dluToPixelsX(c.x + c.width) - left, dluToPixelsY(c.y + c.height) - top);
}

QSize pixelSize(const resources::DialogTemplate& dialog)
{
    return QSize(dluToPixelsX(dialog.width), dluToPixelsY(dialog.height));
}

namespace {

QWidget* makeWidget(const ControlTemplate& c, QWidget* parent)
{
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
    case ControlKind::pushButton: {
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(false);
        return button;
    }
    case ControlKind::bitmapButton: {
        auto* button = new QPushButton(parent);
        button->setAutoDefault(false);
        const QPixmap image = resources::bitmap(c.bitmap);
        if (image.isNull()) {
            button->setText(caption);
        } else {
            // Button faces are shown at 16 x 16, whatever their size.
            button->setIcon(QIcon(image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
            button->setIconSize(QSize(16, 16));
        }
        return button;
    }
    case ControlKind::checkBox: {
        auto* box = new QCheckBox(caption, parent);
        box->setAutoFillBackground(true);
        return box;
    }
    case ControlKind::pushLikeCheckBox: {
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(false);
        button->setCheckable(true);
        return button;
    }
    case ControlKind::edit:
        return new QLineEdit(parent);
    case ControlKind::console: {
        auto* console = new QPlainTextEdit(parent);
        console->setReadOnly(true);
        console->setUndoRedoEnabled(false);
        console->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        console->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        console->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return console;
    }
    case ControlKind::staticText: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // Static texts sit on the dialog's colour, as on a classic dialog, so
        // that they stay readable over the skin.
        label->setAutoFillBackground(true);
        // A click on a static text is a click on the dialog.
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    }
    case ControlKind::picture: {
        auto* picture = new QLabel(parent);
        picture->setPixmap(resources::bitmap(c.bitmap));
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        picture->setAttribute(Qt::WA_TransparentForMouseEvents);
        return picture;
    }
    case ControlKind::groupBox: {
        auto* group = new QGroupBox(caption, parent);
        // A frame alone is lost on the dark skin: the group is a panel of the
        // dialog's colour, which its static texts and check boxes share.
        group->setAutoFillBackground(true);
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        return group;
    }
    case ControlKind::scrollBar:
        return new QScrollBar(Qt::Horizontal, parent);
    case ControlKind::progressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::trackbar: {
        auto* slider = new QSlider(Qt::Horizontal, parent);
        slider->setTickPosition(QSlider::NoTicks);
        slider->setRange(0, 100);
        slider->setSingleStep(1);
        slider->setPageStep(20);
        return slider;
    }
    }
    return new QWidget(parent);
}

} // namespace

std::vector<std::unique_ptr<QtControl>> buildDialogControls(const resources::DialogTemplate& dialog, QWidget* parent)
{
    std::vector<std::unique_ptr<QtControl>> controls;
    controls.reserve(static_cast<size_t>(dialog.controlCount));
    for (int i = 0; i < dialog.controlCount; ++i) {
        const ControlTemplate& c = dialog.controls[i];
        QWidget* widget = makeWidget(c, parent);
        widget->setObjectName(QString::number(c.id));
        widget->setGeometry(pixelRect(c));
        controls.push_back(std::make_unique<QtControl>(widget, c.kind, c.id));
    }
    for (auto& c : controls)
        if (c->kind() == ControlKind::groupBox) c->widget()->lower();
    for (auto& c : controls)
        if (c->kind() == ControlKind::picture) c->widget()->lower();
    return controls;
}

} // namespace platform::qt
