#include "output/frame_queue.h"

#include <utility>

namespace zelkori {

FrameQueue::FrameQueue(const FrameReader &reader, unsigned threads, size_t capacity,
                       size_t padding, Work work)
    : reader_(reader),
      thread_count_(threads), capacity_(capacity), padding_(padding), work_(std::move(work)) {}

void FrameQueue::start() {
    spare_.reserve(capacity_);  // so that handing a buffer back never allocates
    for (unsigned i = 0; i < thread_count_; ++i) {
        threads_.emplace_back([this] { run(); });
    }
}

void FrameQueue::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        QueuedFrame frame = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        room_.notify_all();
        lock.unlock();
        std::string error;
        const bool handled = work_(frame, &error);
        lock.lock();
        if (spare_.size() < capacity_) {
            spare_.push_back(std::move(frame.rgba));
        }
        --busy_;
        if (!handled && !failed_) {
            failed_ = true;
            failed_path_ = frame.path;
            failed_error_ = error;
            queue_.clear();
        }
        room_.notify_all();
    }
}

int FrameQueue::push(int width, int height, const std::string &path, int level,
                     const std::string &name, int quality) {
    QueuedFrame frame;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (threads_.empty()) {
            start();
        }
        room_.wait(lock, [this] { return failed_ || queue_.size() < capacity_; });
        if (failed_) {
            return 0;
        }
        if (!spare_.empty()) {
            frame.rgba = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    frame.rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4 + padding_);
    if (!reader_.read(width, height, frame.rgba.data())) {
        return -1;
    }
    frame.width = width;
    frame.height = height;
    frame.path = path;
    frame.level = level;
    frame.quality = quality;
    frame.name = name;
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_) {
        return 0;
    }
    queue_.push_back(std::move(frame));
    ready_.notify_one();
    return 1;
}

void FrameQueue::drain(std::unique_lock<std::mutex> &lock) {
    room_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
}

bool FrameQueue::wait(std::string *path, std::string *error) {
    std::unique_lock<std::mutex> lock(mutex_);
    drain(lock);
    spare_.clear();  // a sequence is over: give its frames' memory back
    if (!failed_) {
        return true;
    }
    failed_ = false;
    path->swap(failed_path_);
    error->swap(failed_error_);
    return false;
}

void FrameQueue::drop() {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
}

void FrameQueue::finish() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        drain(lock);
        stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread &thread : threads_) {
        thread.join();
    }
    threads_.clear();
    stopping_ = false;
}

}  // namespace zelkori
