#include "viewer/ViewerController.h"

#include "viewer/PictureSize.h"

#include <QCoreApplication>

#include <cstdarg>

namespace viewer {

QString stripText(char type, bool hasPts, uint32_t time, uint64_t position)
{
    return QStringLiteral("%1   %2   %3")
        .arg(QChar::fromLatin1(type))
        .arg(hasPts ? QString::fromStdString(formatTime(time)) : QStringLiteral("--:--:--.--"))
        .arg(position);
}

ViewerController::ViewerController(ViewerWindow& window, std::FILE* trace) : window_(window), trace_(trace)
{
    worker_ = std::make_unique<PictureWorker>([this](const PictureResult& r) {
        QMetaObject::invokeMethod(this, [this, r] { onResult(r); }, Qt::QueuedConnection);
    });
}

// The worker goes first: it must not deliver to a controller that is gone.
ViewerController::~ViewerController() { worker_.reset(); }

void ViewerController::trace(const char* format, ...)
{
    if (!trace_) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(trace_, format, args);
    va_end(args);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

bool ViewerController::handle(const platform::ViewerMessage& m)
{
    using namespace platform;
    switch (m.number) {
    case viewerMessageFile: {
        const std::string name(m.data.c_str());
        generation_ = worker_->open(name);
        worker_->show(0);
        return true;
    }
    case viewerMessageFileChange: {
        bool closed = false;
        generation_ = worker_->close(1000, &closed);
        if (!closed) std::fprintf(stderr, "%s: the file is still being read\n", viewerName);
        return closed;
    }
    case viewerMessagePosition:
        worker_->show(m.lParam);
        return true;
    case viewerMessageSize: {
        const int a = m.wParam <= 16 ? static_cast<int>(m.wParam) : 0;
        const int b = m.lParam <= 16 ? static_cast<int>(m.lParam) : 0;
        if (!validSize(a, b)) {
            std::fprintf(stderr, "%s: size %llu/%llu ignored\n", viewerName,
                         static_cast<unsigned long long>(m.wParam), static_cast<unsigned long long>(m.lParam));
            return false;
        }
        window_.setFraction(a, b);
        trace("size %d/%d %dx%d", a, b, window_.pictureAreaSize().width(), window_.pictureAreaSize().height());
        return true;
    }
    case viewerMessageTopMost:
        if (m.wParam > 1) return false;
        window_.setTopMost(m.wParam == 1);
        trace("topmost %d", window_.isTopMost() ? 1 : 0);
        return true;
    case viewerMessageClose:
        trace("close");
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        return true;
    default:
        return false;
    }
}

void ViewerController::onResult(const PictureResult& r)
{
    using Kind = PictureResult::Kind;
    if (r.generation != generation_) return;   // about a file that has been replaced since
    const QString message = QString::fromStdString(r.message);
    switch (r.kind) {
    case Kind::opened:
        trace("opened");
        break;
    case Kind::openFailed:
        window_.showMessage(message);
        std::fprintf(stderr, "%s: %s\n", platform::viewerName, r.message.c_str());
        trace("error %s", r.message.c_str());
        break;
    case Kind::closed:
        window_.setStripText(QStringLiteral("File closed"));
        trace("closed");
        break;
    case Kind::picture:
        window_.showPicture(r.image, stripText(r.type, r.hasPts, r.time, r.position));
        trace("picture %llu %c %s %dx%d", static_cast<unsigned long long>(r.position), r.type,
              r.hasPts ? formatTime(r.time).c_str() : "--:--:--.--", r.image.width(), r.image.height());
        break;
    case Kind::failed:
        window_.setStripText(message);
        std::fprintf(stderr, "%s: %s\n", platform::viewerName, r.message.c_str());
        trace("failed %llu %s", static_cast<unsigned long long>(r.position), r.message.c_str());
        break;
    }
}

} // namespace viewer
