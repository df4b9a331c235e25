// The movie module's entry (movie_module.h): the writer interface over a
// movie (encoder.h), for whichever movie row of the format table the
// request names.
#include <exception>
#include <memory>
#include <string>

#include "output/movie/encoder.h"
#include "output/movie/movie_module.h"

namespace zelkori {
namespace {

// Every frame must have the movie's size: a frame of another size would
// leave pixels of an earlier one.
class MovieWriter : public Writer {
  public:
    MovieWriter(std::unique_ptr<Movie> movie, const FrameReader &reader)
        : movie_(std::move(movie)), reader_(reader) {}

    bool add(Failure *failure) override {
        Movie &movie = *movie_;
        int width = 0, height = 0;
        if (!reader_.size(&width, &height)) {
            failure->cause = kNoFrame;
            return false;
        }
        if (width != movie.width || height != movie.height) {
            failure->cause = "the frame is " + std::to_string(width) + "x" + std::to_string(height) +
                             " but the movie is " + std::to_string(movie.width) + "x" +
                             std::to_string(movie.height);
            return false;
        }
        const int queued = movie.frames.push(movie.width, movie.height, "", 0);
        if (queued < 0) {
            failure->cause = reader_.cannot_read();
            return false;
        }
        if (queued == 0) {
            std::lock_guard<std::mutex> lock(movie.mutex);
            failure->cause = movie.error;
            return false;
        }
        return true;
    }

    bool close(Failure *failure) override {
        Movie &movie = *movie_;
        movie.frames.finish();
        bool written = !movie.failed && movie.finish();
        if (written) {
            const char *reason = "";
            written = zk_output_commit(movie.output, &reason) != 0;
            movie.output = nullptr;
            if (!written) {
                movie.fail(reason, 0);
            }
        }
        failure->cause = movie.error;
        movie_.reset();
        return written;
    }

  private:
    std::unique_ptr<Movie> movie_;  // deleting it removes an unfinished file
    const FrameReader &reader_;
};

Writer *start(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    try {
        if (request.format->container == nullptr || request.codec == nullptr) {
            failure->cause = std::string("no movie format ") + request.format->name;
            return nullptr;
        }
        ensure_log();
        std::unique_ptr<Movie> movie(new Movie(reader));
        movie->row = request.format;
        movie->muxing = request.format->container;
        movie->codec = request.codec;
        movie->width = request.width;
        movie->height = request.height;
        // The rate as a fraction; timestamps count 1/num (or the codec's
        // clock), den of them a frame, so rates under one a second keep
        // whole ticks.
        movie->rate = av_d2q(request.fps, 1000000);
        movie->time_base = {1, movie->muxing->clock > 0 ? movie->muxing->clock : movie->rate.num};
        movie->first = request.first;
        movie->tag = request.tag;
        movie->alpha = request.alpha;
        if (!movie->open(request.path.c_str(), request.quality)) {
            failure->cause = movie->error;
            return nullptr;
        }
        return new MovieWriter(std::move(movie), reader);
    } catch (const std::exception &) {  // no memory or no thread
        failure->cause = "not enough memory";
        return nullptr;
    }
}

}  // namespace
}  // namespace zelkori

extern "C" __attribute__((visibility("default"))) zelkori::Writer *zelkori_open_movie(
    const zelkori::OpenRequest *request, const zelkori::FrameReader *reader,
    zelkori::Failure *failure) {
    return zelkori::start(*request, *reader, failure);
}
