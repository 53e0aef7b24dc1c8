#pragma once
// The viewer's one window: the picture, and under it a thin strip with the picture
// type, its time and its file position, or what went wrong.
#include <QImage>
#include <QLabel>
#include <QWidget>

namespace viewer {

class PictureView final : public QWidget {
public:
    explicit PictureView(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    // No picture: the area shows `message` instead.
    void setMessage(const QString& message);
    bool hasPicture() const { return !picture_.isNull(); }
    const QString& message() const { return message_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    QImage picture_;   // at display size
    QImage scaled_;    // at the view's size
    QString message_;
};

class ViewerWindow final : public QWidget {
public:
    ViewerWindow();

    // a/b of the display size; 4/1 is as large as the screen allows.
    void setFraction(int a, int b);
    void setTopMost(bool on);
    bool isTopMost() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }
    // A picture at its display size, and the strip that goes with it.
    void showPicture(const QImage& picture, const QString& strip);
    // Drops the picture and shows `message` in its place.
    void showMessage(const QString& message);
    void setStripText(const QString& text);

    QSize pictureAreaSize() const { return view_->size(); }
    QString stripText() const { return stripText_; }
    const PictureView& view() const { return *view_; }

    static constexpr int stripHeight = 18;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void applySize();
    void elideStrip();

    PictureView* view_;
    QLabel* strip_;
    QString stripText_;
    QSize display_{720, 576};
    int a_ = 1, b_ = 2;
};

} // namespace viewer
