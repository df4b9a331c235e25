// Frames read back now and handled later on threads of their own, through
// a bounded queue whose buffers go round from frame to frame. Every output
// that encodes in the background has one of its own (a sequence, a movie,
// the background saves), so that what happens to its frames happens to no
// other output's.
#ifndef ZELKORI_FRAME_QUEUE_H
#define ZELKORI_FRAME_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/frame_reader.h"
#include "output/pixels.h"

namespace zelkori {

struct QueuedFrame {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;  // as GL keeps it
    std::string path;  // where a save goes
    int level = 0;     // a save's PNG level
    int quality = -1;  // a save's quality; -1: its format's default
    std::string name;  // the save's file as messages name it

    PixelRows rows() const { return gl_rows(width, height, rgba.data()); }
};

class FrameQueue {
  public:
    // Handles one frame on a queue thread; false, with *error filled,
    // fails the queue.
    typedef std::function<bool(const QueuedFrame &, std::string *error)> Work;

    // Frames come from `reader`; `threads` handle them (one keeps them in
    // order), at most `capacity` wait; each buffer has `padding` bytes to
    // spare at its end.
    FrameQueue(const FrameReader &reader, unsigned threads, size_t capacity, size_t padding,
               Work work);
    ~FrameQueue() { finish(); }
    FrameQueue(const FrameQueue &) = delete;
    FrameQueue &operator=(const FrameQueue &) = delete;

    // Waits for room, then reads the current frame (outside the lock: the
    // threads go on meanwhile) and queues it. Returns 1 when queued, 0
    // when an earlier frame failed (refused until wait() reports it), -1
    // when the frame cannot be read. Throws when there is no memory or no
    // thread for it.
    int push(int width, int height, const std::string &path, int level,
             const std::string &name = std::string(), int quality = -1);

    // Waits until every queued frame is handled and gives the buffers
    // back. Returns false with the first failure's path and error, then
    // forgets it.
    bool wait(std::string *path, std::string *error);

    // Frames not yet taken are dropped.
    void drop();

    // Handles what is queued, then ends the threads; a later push starts
    // them again.
    void finish();

    const FrameReader &reader() const { return reader_; }

  private:
    void run();
    void start();
    void drain(std::unique_lock<std::mutex> &lock);

    const FrameReader &reader_;
    const unsigned thread_count_;
    const size_t capacity_, padding_;
    const Work work_;
    std::mutex mutex_;
    std::condition_variable ready_;  // a frame queued, or stopping
    std::condition_variable room_;   // a frame taken or handled
    std::deque<QueuedFrame> queue_;
    std::vector<std::thread> threads_;
    // Buffers handed back by the threads, so that a long sequence neither
    // allocates nor clears a frame's worth of memory per frame.
    std::vector<std::vector<unsigned char>> spare_;
    unsigned busy_ = 0;  // frames being handled now
    bool stopping_ = false;
    bool failed_ = false;
    std::string failed_path_, failed_error_;
};

}  // namespace zelkori

#endif
