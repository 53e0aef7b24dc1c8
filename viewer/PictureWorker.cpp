#include "viewer/PictureWorker.h"

#include <chrono>

namespace viewer {

PictureWorker::PictureWorker(Deliver deliver) : deliver_(std::move(deliver)), thread_([this] { run(); }) {}

PictureWorker::~PictureWorker()
{
    finish(0);
    thread_.join();
}

bool PictureWorker::finish(int waitMs)
{
    std::unique_lock lock(mutex_);
    stop_ = true;
    cancel_ = true;
    wake_.notify_all();
    return done_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return ended_; });
}

uint64_t PictureWorker::open(const std::string& path)
{
    std::lock_guard lock(mutex_);
    commands_.push_back({true, path, ++generation_});
    cancel_ = true;
    wake_.notify_all();
    return generation_;
}

uint64_t PictureWorker::close(int waitMs, bool* closed)
{
    std::unique_lock lock(mutex_);
    const uint64_t generation = ++generation_;
    commands_.push_back({false, {}, generation});
    cancel_ = true;
    wake_.notify_all();
    const bool done = done_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                     [&] { return finishedGeneration_ >= generation; });
    if (closed) *closed = done;
    return generation;
}

void PictureWorker::show(uint64_t position)
{
    std::lock_guard lock(mutex_);
    hasPosition_ = true;
    position_ = position;
    positionGeneration_ = generation_;
    newer_ = true;
    wake_.notify_all();
}

void PictureWorker::run()
{
    std::unique_lock lock(mutex_);
    loop(lock);
    ended_ = true;
    done_.notify_all();
}

void PictureWorker::loop(std::unique_lock<std::mutex>& lock)
{
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !commands_.empty() || hasPosition_; });
        if (stop_) return;
        if (!commands_.empty()) {
            const Command c = commands_.front();
            commands_.pop_front();
            lock.unlock();
            PictureResult r;
            r.generation = c.generation;
            if (c.open) {
                const bool ok = file_.open(c.path, r.message);
                r.kind = ok ? PictureResult::Kind::opened : PictureResult::Kind::openFailed;
            } else {
                file_.close();
                r.kind = PictureResult::Kind::closed;
            }
            deliver_(r);
            lock.lock();
            finishedGeneration_ = c.generation;
            done_.notify_all();
            continue;
        }
        const uint64_t position = position_;
        const uint64_t generation = positionGeneration_;
        hasPosition_ = false;
        cancel_ = false;
        newer_ = false;
        // A position sent before the last file command belongs to a file that is gone.
        if (generation != finishedGeneration_) continue;
        lock.unlock();
        showPicture(position, generation);
        lock.lock();
    }
}

void PictureWorker::showPicture(uint64_t position, uint64_t generation)
{
    if (!file_.isOpen()) return;
    // A recording that begins with garbage still shows its first picture at 0.
    if (position == 0) position = file_.firstPicturePacket();
    PictureResult r;
    r.generation = generation;
    r.position = position;
    const auto started = std::chrono::steady_clock::now();
    const std::function<bool()> stop = [&] {
        return cancel_ || (newer_ && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(overtakeMs));
    };
    DecodePlan plan;
    if (file_.plan(position, plan, r.message, stop) && decoder_.decode(plan, r.image, r.message, stop)) {
        const AccessUnit& target = plan.units[plan.target];
        r.kind = PictureResult::Kind::picture;
        r.type = target.type;
        r.hasPts = target.hasPts;
        r.time = target.pts - file_.startPts();
    } else if (stop()) {
        return;   // given up for a newer position or a file command: nothing to show
    }
    deliver_(r);
}

} // namespace viewer
