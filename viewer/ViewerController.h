#pragma once
// Carries out the cutter's messages on the window and the decoding worker.
#include "platform/ViewerChannel.h"
#include "viewer/PictureWorker.h"
#include "viewer/ViewerWindow.h"

#include <QObject>

#include <cstdio>
#include <memory>

namespace viewer {

class ViewerController final : public QObject {
public:
    // With `trace` set, one line per message carried out and per picture shown is
    // written to it (for scripts and tests).
    ViewerController(ViewerWindow& window, std::FILE* trace = nullptr);
    ~ViewerController() override;

    // False when the message's parameters make no sense; it is then ignored.
    bool handle(const platform::ViewerMessage& message);
    // Ends the decoding; false when it did not end within waitMs.
    bool finish(int waitMs) { return worker_->finish(waitMs); }

private:
    void onResult(const PictureResult& result);
    void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ViewerWindow& window_;
    std::FILE* trace_;
    uint64_t generation_ = 0;   // of the file command whose pictures are shown
    std::unique_ptr<PictureWorker> worker_;
};

// The strip under a picture: type, time and file position.
QString stripText(char type, bool hasPts, uint32_t time, uint64_t position);

} // namespace viewer
