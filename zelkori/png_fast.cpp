// A deflate encoder that looks for matches only where rendered frames have
// them: runs of one byte or one pixel, and the row above. Rows go through
// PNG's Up filter first, so flat areas and vertical repeats become runs of
// zeros. No hash tables and no window to slide: a 640x480 frame encodes in
// about a millisecond, where zlib's level 1 takes two.
#include "png_fast.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <queue>
#include <utility>

namespace zelkori {
namespace {

const int kMinMatch = 3, kMaxMatch = 258;
const size_t kMaxDistance = 32768;
const size_t kBlockTokens = 1 << 16;  // tokens per block: bounds memory
const int kMaxCodeBits = 15;          // literal/length and distance codes
const int kMaxCodeLengthBits = 7;     // the code that sends code lengths
const int kEndOfBlock = 256;
const int kLengthSymbols = 29, kDistanceSymbols = 30;
const int kLiteralLengthSymbols = 257 + kLengthSymbols;
const uint32_t kAdlerModulus = 65521;
const size_t kAdlerChunk = 5552;  // bytes before the sums could overflow
const uint32_t kMaxChunkBytes = 1u << 30;  // per IDAT chunk
const unsigned char kPngFilterUp = 2;

const int kLengthBase[kLengthSymbols] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                         15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                         67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLengthExtra[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int kDistanceBase[kDistanceSymbols] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int kDistanceExtra[kDistanceSymbols] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,
                                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code-length code.
const int kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A literal byte (length 0) or a match of `length` bytes `value` back.
struct Token {
    uint16_t length;
    uint16_t value;
};

int symbol_for(const int *base, int count, int value) {
    return static_cast<int>(std::upper_bound(base, base + count, value) - base) - 1;
}

struct LengthSymbols {
    unsigned char of[kMaxMatch + 1];
    LengthSymbols() {
        for (int length = kMinMatch; length <= kMaxMatch; ++length) {
            of[length] = static_cast<unsigned char>(
                symbol_for(kLengthBase, kLengthSymbols, length));
        }
    }
};
const LengthSymbols kLengthSymbol;

// Code lengths of a Huffman code for `freq`, none over `limit` bits. At
// least two symbols get a code, as inflaters expect. When the tree is too
// deep the counts are flattened and it is built again.
std::vector<int> code_lengths(std::vector<uint32_t> freq, int limit) {
    const size_t n = freq.size();
    int used = 0;
    for (uint32_t f : freq) {
        used += f != 0;
    }
    for (size_t i = 0; used < 2 && i < n; ++i) {
        if (freq[i] == 0) {
            freq[i] = 1;
            ++used;
        }
    }
    typedef std::pair<uint64_t, int> Node;  // weight, node index
    std::vector<int> lengths(n, 0);
    for (;;) {
        std::vector<int> parent;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
        for (size_t i = 0; i < n; ++i) {
            if (freq[i] != 0) {
                heap.push({freq[i], static_cast<int>(parent.size())});
                parent.push_back(-1);
            }
        }
        while (heap.size() > 1) {
            const Node a = heap.top();
            heap.pop();
            const Node b = heap.top();
            heap.pop();
            const int joined = static_cast<int>(parent.size());
            parent.push_back(-1);
            parent[a.second] = parent[b.second] = joined;
            heap.push({a.first + b.first, joined});
        }
        int leaf = 0, deepest = 0;
        for (size_t i = 0; i < n; ++i) {
            lengths[i] = 0;
            if (freq[i] == 0) {
                continue;
            }
            for (int node = leaf++; parent[node] >= 0; node = parent[node]) {
                ++lengths[i];
            }
            deepest = std::max(deepest, lengths[i]);
        }
        if (deepest <= limit) {
            return lengths;
        }
        for (uint32_t &f : freq) {
            f = f == 0 ? 0 : (f + 1) / 2;
        }
    }
}

// Canonical codes for `lengths`, bit-reversed: deflate sends a code's
// first bit first but packs bits from the low end.
std::vector<uint32_t> canonical_codes(const std::vector<int> &lengths) {
    int count[kMaxCodeBits + 1] = {0};
    for (int length : lengths) {
        ++count[length];
    }
    count[0] = 0;
    uint32_t next[kMaxCodeBits + 1] = {0};
    for (int bits = 1, code = 0; bits <= kMaxCodeBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = static_cast<uint32_t>(code);
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i) {
        uint32_t code = next[lengths[i]]++, reversed = 0;
        for (int bit = 0; bit < lengths[i]; ++bit, code >>= 1) {
            reversed = (reversed << 1) | (code & 1);
        }
        codes[i] = reversed;
    }
    return codes;
}

// Deflate's bit order: values packed from the low bit of each byte.
class BitWriter {
  public:
    explicit BitWriter(std::vector<unsigned char> *out) : out_(out) {}
    void put(uint32_t value, int bits) {
        pending_ |= static_cast<uint64_t>(value) << count_;
        count_ += bits;
        if (count_ >= 32) {  // a word at a time: bits <= 32 keeps count_ < 64
            const unsigned char word[4] = {
                static_cast<unsigned char>(pending_), static_cast<unsigned char>(pending_ >> 8),
                static_cast<unsigned char>(pending_ >> 16), static_cast<unsigned char>(pending_ >> 24)};
            out_->insert(out_->end(), word, word + 4);
            pending_ >>= 32;
            count_ -= 32;
        }
    }
    // Pads to a whole byte.
    void align() {
        for (; count_ > 0; count_ -= 8, pending_ >>= 8) {
            out_->push_back(static_cast<unsigned char>(pending_));
        }
        count_ = 0;
        pending_ = 0;
    }

  private:
    std::vector<unsigned char> *out_;
    uint64_t pending_ = 0;
    int count_ = 0;
};

struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(const std::vector<uint32_t> &freq, int limit)
        : lengths(code_lengths(freq, limit)), codes(canonical_codes(lengths)) {}
    void send(BitWriter *out, int symbol) const {
        out->put(codes[symbol], lengths[symbol]);
    }
};

// Writes one dynamic-Huffman block of `tokens`.
void write_block(const std::vector<Token> &tokens, bool last, BitWriter *out) {
    std::vector<uint32_t> literal_freq(kLiteralLengthSymbols, 0);
    std::vector<uint32_t> distance_freq(kDistanceSymbols, 0);
    for (const Token &token : tokens) {
        if (token.length == 0) {
            ++literal_freq[token.value];
        } else {
            ++literal_freq[257 + kLengthSymbol.of[token.length]];
            ++distance_freq[symbol_for(kDistanceBase, kDistanceSymbols, token.value)];
        }
    }
    literal_freq[kEndOfBlock] = 1;
    const Code literals(literal_freq, kMaxCodeBits);
    const Code distances(distance_freq, kMaxCodeBits);

    // Both tables' lengths as one run-length coded list.
    int literal_count = kLiteralLengthSymbols, distance_count = kDistanceSymbols;
    while (literal_count > 257 && literals.lengths[literal_count - 1] == 0) {
        --literal_count;
    }
    while (distance_count > 1 && distances.lengths[distance_count - 1] == 0) {
        --distance_count;
    }
    std::vector<int> lengths(literals.lengths.begin(), literals.lengths.begin() + literal_count);
    lengths.insert(lengths.end(), distances.lengths.begin(),
                   distances.lengths.begin() + distance_count);
    std::vector<std::pair<int, int>> runs;  // code-length symbol, extra bits
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 1;
        while (i + run < lengths.size() && lengths[i + run] == lengths[i]) {
            ++run;
        }
        if (lengths[i] == 0 && run >= 3) {
            run = std::min<size_t>(run, 138);
            runs.push_back(run >= 11 ? std::make_pair(18, static_cast<int>(run) - 11)
                                     : std::make_pair(17, static_cast<int>(run) - 3));
        } else if (lengths[i] != 0 && run >= 4) {
            runs.push_back({lengths[i], 0});
            run = std::min<size_t>(run - 1, 6);
            runs.push_back({16, static_cast<int>(run) - 3});
            ++run;
        } else {
            runs.push_back({lengths[i], 0});
            run = 1;
        }
        i += run;
    }
    std::vector<uint32_t> run_freq(19, 0);
    for (const auto &run : runs) {
        ++run_freq[run.first];
    }
    const Code length_code(run_freq, kMaxCodeLengthBits);
    int order_count = 19;
    while (order_count > 4 && length_code.lengths[kCodeLengthOrder[order_count - 1]] == 0) {
        --order_count;
    }

    out->put(last ? 1 : 0, 1);
    out->put(2, 2);  // dynamic Huffman codes
    out->put(static_cast<uint32_t>(literal_count - 257), 5);
    out->put(static_cast<uint32_t>(distance_count - 1), 5);
    out->put(static_cast<uint32_t>(order_count - 4), 4);
    for (int i = 0; i < order_count; ++i) {
        out->put(static_cast<uint32_t>(length_code.lengths[kCodeLengthOrder[i]]), 3);
    }
    static const int kRunExtraBits[3] = {2, 3, 7};  // for symbols 16, 17, 18
    for (const auto &run : runs) {
        length_code.send(out, run.first);
        if (run.first >= 16) {
            out->put(static_cast<uint32_t>(run.second), kRunExtraBits[run.first - 16]);
        }
    }
    for (const Token &token : tokens) {
        if (token.length == 0) {
            literals.send(out, token.value);
            continue;
        }
        const int length = kLengthSymbol.of[token.length];
        literals.send(out, 257 + length);
        out->put(static_cast<uint32_t>(token.length - kLengthBase[length]), kLengthExtra[length]);
        const int distance = symbol_for(kDistanceBase, kDistanceSymbols, token.value);
        distances.send(out, distance);
        out->put(static_cast<uint32_t>(token.value - kDistanceBase[distance]),
                 kDistanceExtra[distance]);
    }
    literals.send(out, kEndOfBlock);
}

// How many bytes at a equal those at b, up to limit; eight at a time.
size_t match_length(const unsigned char *a, const unsigned char *b, size_t limit) {
    size_t n = 0;
    for (; n + 8 <= limit; n += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            return n + static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);
        }
    }
    while (n < limit && a[n] == b[n]) {
        ++n;
    }
    return n;
}

void put_be32(std::vector<unsigned char> *out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out->push_back(static_cast<unsigned char>(value >> shift));
    }
}

void put_chunk(std::vector<unsigned char> *file, const char *type,
               const unsigned char *data, uint32_t size) {
    put_be32(file, size);
    const size_t start = file->size();
    file->insert(file->end(), type, type + 4);
    file->insert(file->end(), data, data + size);
    put_be32(file, static_cast<uint32_t>(
                       crc32(0, file->data() + start, static_cast<uInt>(size + 4))));
}

}  // namespace

uint32_t adler32_runs(const unsigned char *data, size_t size) {
    uint32_t a = 1, b = 0;
    while (size > 0) {
        size_t chunk = std::min(size, kAdlerChunk);
        size -= chunk;
        for (; chunk >= 8; chunk -= 8, data += 8) {
            uint64_t word;
            std::memcpy(&word, data, 8);
            if (word == 0) {
                b += 8 * a;  // eight zero bytes leave a and add a to b each
                continue;
            }
            for (int i = 0; i < 8; ++i) {
                a += data[i];
                b += a;
            }
        }
        for (; chunk > 0; --chunk) {
            a += *data++;
            b += a;
        }
        a %= kAdlerModulus;
        b %= kAdlerModulus;
    }
    return (b << 16) | a;
}

void deflate_runs(const unsigned char *data, size_t size, size_t row_bytes,
                  std::vector<unsigned char> *out) {
    out->push_back(0x78);  // deflate, 32 KiB window
    out->push_back(0x01);  // no dictionary; header check bits
    size_t candidates[3] = {3, 1, row_bytes};
    const int candidate_count = row_bytes >= 1 && row_bytes <= kMaxDistance ? 3 : 2;
    BitWriter bits(out);
    std::vector<Token> tokens;
    tokens.reserve(std::min(kBlockTokens, size + 1));
    size_t at = 0;
    do {
        tokens.clear();
        while (at < size && tokens.size() < kBlockTokens) {
            const size_t limit = std::min<size_t>(kMaxMatch, size - at);
            size_t best = 0, best_distance = 0;
            for (int i = 0; i < candidate_count && best < limit; ++i) {
                const size_t distance = candidates[i];
                if (distance > at || limit < kMinMatch ||
                    std::memcmp(data + at, data + at - distance, kMinMatch) != 0) {
                    continue;
                }
                const size_t length = match_length(data + at, data + at - distance, limit);
                if (length > best) {
                    best = length;
                    best_distance = distance;
                }
            }
            if (best >= kMinMatch) {
                tokens.push_back({static_cast<uint16_t>(best),
                                  static_cast<uint16_t>(best_distance)});
                at += best;
            } else {
                tokens.push_back({0, data[at]});
                ++at;
            }
        }
        write_block(tokens, at == size, &bits);
    } while (at < size);
    bits.align();
    put_be32(out, adler32_runs(data, size));
}

std::vector<unsigned char> encode_png_fast(int width, int height,
                                           const unsigned char *rgb) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const size_t stride = static_cast<size_t>(width) * 3;
    const size_t row_bytes = stride + 1;  // a filter byte leads each row

    // Each byte less the one above it. GCC's vector type keeps the loop
    // sixteen bytes at a time without needing a given instruction set.
    typedef unsigned char Bytes16 __attribute__((vector_size(16)));
    std::vector<unsigned char> filtered(row_bytes * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        unsigned char *out = filtered.data() + row_bytes * static_cast<size_t>(y);
        const unsigned char *row = rgb + stride * static_cast<size_t>(y);
        *out++ = kPngFilterUp;
        if (y == 0) {
            std::memcpy(out, row, stride);  // the row above a first row is zeros
            continue;
        }
        const unsigned char *above = row - stride;
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
    std::vector<unsigned char> stream;
    stream.reserve(filtered.size() / 16 + 1024);
    deflate_runs(filtered.data(), filtered.size(), row_bytes, &stream);

    std::vector<unsigned char> file(kSignature, kSignature + sizeof kSignature);
    file.reserve(stream.size() + 64);
    unsigned char header[13];
    const uint32_t dimensions[2] = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    for (int i = 0; i < 2; ++i) {
        for (int b = 0; b < 4; ++b) {
            header[4 * i + b] = static_cast<unsigned char>(dimensions[i] >> (24 - 8 * b));
        }
    }
    header[8] = 8;   // bits per sample
    header[9] = 2;   // RGB
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filtering (each row names its filter)
    header[12] = 0;  // not interlaced
    put_chunk(&file, "IHDR", header, sizeof header);
    for (size_t at = 0; at < stream.size(); at += kMaxChunkBytes) {
        const size_t size = std::min<size_t>(kMaxChunkBytes, stream.size() - at);
        put_chunk(&file, "IDAT", stream.data() + at, static_cast<uint32_t>(size));
    }
    put_chunk(&file, "IEND", nullptr, 0);
    return file;
}

}  // namespace zelkori
