#include "viewer/ViewerWindow.h"

#include "platform/ViewerChannel.h"
#include "viewer/PictureSize.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace viewer {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setPicture(const QImage& picture)
{
    picture_ = picture;
    scaled_ = scaledPicture(picture_, size());
    message_.clear();
    update();
}

void PictureView::setMessage(const QString& message)
{
    picture_ = QImage();
    scaled_ = QImage();
    message_ = message;
    update();
}

void PictureView::resizeEvent(QResizeEvent*)
{
    scaled_ = scaledPicture(picture_, size());
}

void PictureView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!scaled_.isNull()) {
        p.drawImage(0, 0, scaled_);
        return;
    }
    p.fillRect(rect(), QColor(0x20, 0x20, 0x20));
    p.setPen(QColor(0xe0, 0xe0, 0xe0));
    p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, message_);
}

ViewerWindow::ViewerWindow()
{
    setWindowTitle(QString::fromLatin1(platform::viewerName));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new PictureView(this);
    strip_ = new QLabel(this);
    strip_->setFixedHeight(stripHeight);
    strip_->setAutoFillBackground(true);
    strip_->setContentsMargins(4, 0, 4, 0);
    QPalette palette = strip_->palette();
    palette.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    palette.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    strip_->setPalette(palette);
    QFont font = strip_->font();
    font.setPixelSize(11);
    strip_->setFont(font);
    layout->addWidget(view_);
    layout->addWidget(strip_);
    view_->setMessage(QStringLiteral("No recording"));
    applySize();
}

void ViewerWindow::setFraction(int a, int b)
{
    a_ = a;
    b_ = b;
    applySize();
}

void ViewerWindow::setTopMost(bool on)
{
    if (on == isTopMost()) return;
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (shown) show();   // changing the flags hides a window
}

void ViewerWindow::showPicture(const QImage& picture, const QString& strip)
{
    const bool resize = picture.size() != display_;
    display_ = picture.size();
    if (resize) applySize();
    view_->setPicture(picture);
    setStripText(strip);
    if (isVisible()) view_->repaint();
}

void ViewerWindow::showMessage(const QString& message)
{
    view_->setMessage(message);
    setStripText(message);
}

void ViewerWindow::setStripText(const QString& text)
{
    stripText_ = text;
    elideStrip();
}

void ViewerWindow::resizeEvent(QResizeEvent*)
{
    elideStrip();
}

void ViewerWindow::elideStrip()
{
    const int room = strip_->width() - 8;
    strip_->setText(strip_->fontMetrics().elidedText(stripText_, Qt::ElideRight, room > 0 ? room : 0));
    strip_->setToolTip(stripText_);
}

void ViewerWindow::applySize()
{
    QSize available;
    if (isMaxSize(a_, b_)) {
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            // The window frame is known once the window is shown; before that, allow for a typical one.
            QSize frame = frameGeometry().size() - geometry().size();
            if (!isVisible() || frame.isEmpty()) frame = QSize(8, 32);
            available = screen->availableGeometry().size() - frame - QSize(0, stripHeight);
        }
    }
    const QSize picture = pictureSize(display_, a_, b_, available);
    view_->setFixedSize(picture);
    setFixedSize(picture.width(), picture.height() + stripHeight);
}

} // namespace viewer
