// Rendered frames are mostly flat background: PNG's Up filter turns flat
// areas and vertical repeats into runs of zeros, which ISA-L's level 1
// compresses quickly. Rows are filtered and compressed a batch at a time,
// and the compressed bytes leave as IDAT chunks as they fill, so memory
// stays bounded whatever the image's size.
#include "output/png/png_fast.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace zelkori {
namespace {

const size_t kBatchBytes = 4 << 20;  // filtered rows compressed at a time
const uint32_t kChunkBytes = 256 * 1024;  // compressed bytes per IDAT chunk
const size_t kMaxPiece = 1u << 30;  // isal_deflate counts input in 32 bits
const size_t kChunkFrame = 12;      // length and type in front, CRC behind
const unsigned char kPngFilterUp = 2;
const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

void put_be32(unsigned char *at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
    }
}

// Completes the chunk at `chunk` whose `size` data bytes are in place
// after its 8-byte head; the CRC follows them.
void frame_chunk(unsigned char *chunk, const char *type, uint32_t size) {
    put_be32(chunk, size);
    std::memcpy(chunk + 4, type, 4);
    put_be32(chunk + 8 + size, crc32_gzip_refl(0, chunk + 4, size + 4));
}

// One row led by its filter byte, less the row above (zeros above the
// first). GCC's vector type keeps the loop sixteen bytes at a time without
// needing a given instruction set.
void filter_up(const unsigned char *row, const unsigned char *above, size_t stride,
               unsigned char *out) {
    typedef unsigned char Bytes16 __attribute__((vector_size(16)));
    *out++ = kPngFilterUp;
    if (above == nullptr) {
        std::memcpy(out, row, stride);
        return;
    }
    size_t x = 0;
    for (; x + sizeof(Bytes16) <= stride; x += sizeof(Bytes16)) {
        Bytes16 now, before;
        std::memcpy(&now, row + x, sizeof now);
        std::memcpy(&before, above + x, sizeof before);
        now -= before;
        std::memcpy(out + x, &now, sizeof now);
    }
    for (; x < stride; ++x) {
        out[x] = static_cast<unsigned char>(row[x] - above[x]);
    }
}

// The same for an RGBA row and the RGBA row above, packed to RGB as it
// goes: four pixels a step, subtracted as they are, then packed; each
// step's second 8-byte store runs two bytes into the next step's place.
void filter_up_rgba(const unsigned char *row, const unsigned char *above, int width,
                    unsigned char *out) {
    typedef unsigned char Bytes16 __attribute__((vector_size(16)));
    *out++ = kPngFilterUp;
    if (above == nullptr) {
        pack_rgb(row, width, out);
        return;
    }
    int x = 0;
    if (kLittleEndian) {
        for (; x + 4 < width; x += 4) {
            Bytes16 now, before;
            std::memcpy(&now, row + 4 * x, sizeof now);
            std::memcpy(&before, above + 4 * x, sizeof before);
            now -= before;
            uint64_t low, high;
            std::memcpy(&low, &now, sizeof low);
            std::memcpy(&high, reinterpret_cast<unsigned char *>(&now) + 8, sizeof high);
            low = pack_two(low);
            high = pack_two(high);
            std::memcpy(out + 3 * x, &low, sizeof low);
            std::memcpy(out + 3 * x + 6, &high, sizeof high);
        }
    }
    for (; x < width; ++x) {
        for (int c = 0; c < 3; ++c) {
            out[3 * x + c] = static_cast<unsigned char>(row[4 * x + c] - above[4 * x + c]);
        }
    }
}

// One thread's compressor, its working memory and its buffers, kept from
// one image to the next: setting them up again per frame costs more than
// compressing a frame.
class Compressor {
  public:
    Compressor()
        : level_buffer_(new unsigned char[ISAL_DEF_LVL1_DEFAULT]),
          stream_(new isal_zstream),
          chunk_(new unsigned char[kChunkBytes + kChunkFrame]) {
        isal_deflate_init(stream_.get());
        stream_->level = 1;
        stream_->level_buf = level_buffer_.get();
        stream_->level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    }

    bool write(const PixelRows &image, PngSink sink, void *context) {
        sink_ = sink;
        context_ = context;
        const int width = image.width, height = image.height;
        const size_t stride = static_cast<size_t>(width) * (image.alpha ? 4 : 3);
        const size_t row_bytes = stride + 1;
        const int rows_per_batch = static_cast<int>(
            std::min<size_t>(static_cast<size_t>(height), std::max<size_t>(1, kBatchBytes / row_bytes)));
        rows_.resize(row_bytes * static_cast<size_t>(rows_per_batch));

        unsigned char head[sizeof kSignature + kChunkFrame + 13];
        std::memcpy(head, kSignature, sizeof kSignature);
        unsigned char *header = head + sizeof kSignature + 8;
        put_be32(header, static_cast<uint32_t>(width));
        put_be32(header + 4, static_cast<uint32_t>(height));
        header[8] = 8;   // bits per sample
        header[9] = image.alpha ? 6 : 2;   // RGBA or RGB
        header[10] = 0;  // deflate
        header[11] = 0;  // adaptive filtering (each row names its filter)
        header[12] = 0;  // not interlaced
        frame_chunk(head + sizeof kSignature, "IHDR", 13);
        if (!sink_(context_, head, sizeof head)) {
            return false;
        }

        isal_deflate_reset(stream_.get());
        stream_->gzip_flag = IGZIP_ZLIB;  // isal_deflate changes it once the header is out
        stream_->end_of_stream = 0;
        stream_->next_out = chunk_.get() + 8;
        stream_->avail_out = kChunkBytes;
        for (int y = 0; y < height; y += rows_per_batch) {
            const int end = std::min(height, y + rows_per_batch);
            filter_rows(image, y, end);
            if (!compress(rows_.data(), row_bytes * static_cast<size_t>(end - y), end == height)) {
                return false;
            }
        }
        if (stream_->avail_out < kChunkBytes && !send_idat()) {
            return false;
        }
        unsigned char end[kChunkFrame];
        frame_chunk(end, "IEND", 0);
        return sink_(context_, end, sizeof end);
    }

  private:
    // Rows [first, end) of the image into rows_, each filtered against the
    // one above it. Rows are taken in the order they lie in memory, which
    // the hardware's prefetching follows: bottom up for a frame from GL.
    void filter_rows(const PixelRows &image, int first, int end) {
        const size_t out_stride = static_cast<size_t>(image.width) * (image.alpha ? 4 : 3) + 1;
        const bool upward = image.stride < 0;
        for (int i = first; i < end; ++i) {
            const int y = upward ? first + end - 1 - i : i;
            unsigned char *out = rows_.data() + out_stride * static_cast<size_t>(y - first);
            const unsigned char *above = y > 0 ? image.row(y - 1) : nullptr;
            if (image.pixel_bytes == 3 || image.alpha) {
                filter_up(image.row(y), above, out_stride - 1, out);
            } else {
                filter_up_rgba(image.row(y), above, image.width, out);
            }
        }
    }

    // Hands data to the compressor, sending each IDAT chunk as it fills;
    // `last` ends the stream.
    bool compress(const unsigned char *data, size_t size, bool last) {
        do {
            const size_t piece = std::min(size, kMaxPiece);
            stream_->next_in = const_cast<unsigned char *>(data);
            stream_->avail_in = static_cast<uint32_t>(piece);
            stream_->end_of_stream = last && piece == size;
            for (;;) {
                if (stream_->avail_out == 0 && !send_idat()) {
                    return false;
                }
                const uint32_t in = stream_->avail_in, out = stream_->avail_out;
                if (isal_deflate(stream_.get()) != COMP_OK) {
                    return false;
                }
                const bool done = stream_->end_of_stream
                                      ? stream_->internal_state.state == ZSTATE_END
                                      : stream_->avail_in == 0;
                if (done) {
                    break;
                }
                if (stream_->avail_in == in && stream_->avail_out == out) {
                    return false;  // no progress: never seen, but never loop
                }
            }
            data += piece;
            size -= piece;
        } while (size > 0);
        return true;
    }

    bool send_idat() {
        const uint32_t size = kChunkBytes - stream_->avail_out;
        frame_chunk(chunk_.get(), "IDAT", size);
        stream_->next_out = chunk_.get() + 8;
        stream_->avail_out = kChunkBytes;
        return sink_(context_, chunk_.get(), size + kChunkFrame);
    }

    std::unique_ptr<unsigned char[]> level_buffer_;  // the level's hash table and tokens
    std::unique_ptr<isal_zstream> stream_;
    std::unique_ptr<unsigned char[]> chunk_;  // an IDAT chunk being filled
    std::vector<unsigned char> rows_;         // a batch of filtered rows
    PngSink sink_ = nullptr;
    void *context_ = nullptr;
};

}  // namespace

bool write_png_fast(const PixelRows &image, PngSink sink, void *context) {
    if (image.width < 1 || image.height < 1 || image.top == nullptr || sink == nullptr ||
        (image.pixel_bytes != 3 && image.pixel_bytes != 4) || (image.alpha && image.pixel_bytes != 4)) {
        return false;
    }
    thread_local std::unique_ptr<Compressor> compressor;
    if (compressor == nullptr) {
        compressor.reset(new Compressor);
    }
    return compressor->write(image, sink, context);
}

}  // namespace zelkori
