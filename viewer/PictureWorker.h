#pragma once
// Decodes on its own thread so that the channel is answered at once while a picture
// is being made. It always works on the newest position and drops the ones that
// were overtaken while it was busy.
#include "viewer/PictureDecoder.h"
#include "viewer/PvaVideo.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace viewer {

struct PictureResult {
    enum class Kind { opened, openFailed, closed, picture, failed };
    Kind kind = Kind::failed;
    uint64_t generation = 0;   // of the file command it belongs to
    uint64_t position = 0;
    QImage image;              // a picture at its display size
    char type = '?';
    bool hasPts = false;
    uint32_t time = 0;         // ticks since the recording's first time stamp
    std::string message;       // what went wrong, for the user
};

class PictureWorker {
public:
    // `deliver` runs on the worker thread.
    using Deliver = std::function<void(const PictureResult&)>;
    explicit PictureWorker(Deliver deliver);
    ~PictureWorker();
    PictureWorker(const PictureWorker&) = delete;
    PictureWorker& operator=(const PictureWorker&) = delete;

    // Both return the generation their result will carry.
    uint64_t open(const std::string& path);
    // Returns once the file is closed (true), or after waitMs (false).
    uint64_t close(int waitMs, bool* closed = nullptr);
    // A newer position gives up a picture that has been in the making for longer
    // than `overtakeMs`: play stepping still sees pictures, a long search ends.
    void show(uint64_t position);
    // Gives up what is being done and ends the thread; false when it has not ended
    // within waitMs (the thread is then joined at destruction).
    bool finish(int waitMs);

    static constexpr int overtakeMs = 250;

private:
    struct Command {
        bool open = false;
        std::string path;
        uint64_t generation = 0;
    };
    void run();
    void loop(std::unique_lock<std::mutex>& lock);
    void showPicture(uint64_t position, uint64_t generation);

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Command> commands_;
    bool hasPosition_ = false;
    uint64_t position_ = 0;
    uint64_t positionGeneration_ = 0;
    uint64_t generation_ = 0;           // of the last file command queued
    uint64_t finishedGeneration_ = 0;   // of the last one carried out
    bool stop_ = false;
    bool ended_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> newer_{false};    // a position came after the one in the making
    PvaVideoFile file_;
    PictureDecoder decoder_;
    std::thread thread_;
};

} // namespace viewer
