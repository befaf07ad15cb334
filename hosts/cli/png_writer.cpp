#include "png_writer.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// About this much filtered data a band: enough that a band's deflate hardly misses what it
// cannot look back to in the band before, small enough that every thread has bands to take.
constexpr std::size_t kBandBytes = 1 << 20;

void PutBig32(std::string& to, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) to += static_cast<char>(value >> shift);
}

std::uint32_t Crc(std::uint32_t crc, const void* data, std::size_t size) {
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
}

std::string Chunk(std::string_view type, std::string_view data) {
    std::string chunk;
    chunk.reserve(12 + data.size());
    PutBig32(chunk, static_cast<std::uint32_t>(data.size()));
    chunk += type;
    chunk += data;
    PutBig32(chunk, Crc(0, chunk.data() + 4, chunk.size() - 4));
    return chunk;
}

// One band's IDAT chunk, made whole by the thread that deflated it, and the Adler-32 of the
// filtered bytes it holds.
struct Band {
    std::unique_ptr<std::uint8_t[]> bytes;  // not zeroed: only what is written is touched
    std::size_t capacity = 0, size = 0;
    std::uint32_t adler = 1;
    std::size_t filtered = 0;
    std::size_t index = SIZE_MAX;  // which band it holds

    void Reserve(std::size_t wanted) {
        if (capacity >= wanted) return;
        bytes.reset(new std::uint8_t[wanted]);
        capacity = wanted;
    }
};

// A thread's deflate state and filtered rows, kept from band to band.
class BandDeflater {
public:
    BandDeflater(const std::uint8_t* pixels, std::size_t rowBytes, int bands)
        : pixels_(pixels), rowBytes_(rowBytes), bands_(bands), level_(ISAL_DEF_LVL1_DEFAULT) {}

    // Rows [first, end) into `band`, as a deflate stream ended on a byte boundary, or finished
    // if `last`.
    void Deflate(int first, int end, bool last, Band& band) {
        const std::size_t size = (rowBytes_ + 1) * std::size_t(end - first);
        if (filtered_.size() < size) filtered_.reset(size);
        std::uint8_t* out = filtered_.data();
        for (int y = first; y < end; ++y) {
            const std::uint8_t* __restrict row = pixels_ + rowBytes_ * std::size_t(y);
            std::uint8_t* __restrict to = out + 1;
            out[0] = 1;  // Sub: each byte less the same channel of the pixel to its left
            for (int i = 0; i < bands_; ++i) to[i] = row[i];
            for (std::size_t i = std::size_t(bands_); i < rowBytes_; ++i)
                to[i] = static_cast<std::uint8_t>(row[i] - row[i - std::size_t(bands_)]);
            out += rowBytes_ + 1;
        }
        band.filtered = size;
        band.adler = isal_adler32(1, filtered_.data(), size);

        // Stored blocks at worst: 5 bytes a 64 KiB block over the data.
        std::size_t room = size + size / 8192 + 64;
        for (;;) {
            band.Reserve(8 + room + 4);
            isal_zstream stream;
            isal_deflate_stateless_init(&stream);
            stream.level = 1;
            stream.level_buf = level_.data();
            stream.level_buf_size = static_cast<std::uint32_t>(level_.size());
            stream.gzip_flag = IGZIP_DEFLATE;
            stream.flush = last ? NO_FLUSH : FULL_FLUSH;
            stream.end_of_stream = last ? 1 : 0;
            stream.next_in = filtered_.data();
            stream.avail_in = static_cast<std::uint32_t>(size);
            stream.next_out = band.bytes.get() + 8;
            stream.avail_out = static_cast<std::uint32_t>(room);
            const int status = isal_deflate_stateless(&stream);
            if (status == STATELESS_OVERFLOW) {
                room *= 2;
                continue;
            }
            if (status != COMP_OK) throw std::runtime_error("deflating the PNG failed");
            const std::uint32_t length = stream.total_out;
            std::uint8_t* chunk = band.bytes.get();
            const std::uint8_t head[8] = {std::uint8_t(length >> 24),
                                          std::uint8_t(length >> 16),
                                          std::uint8_t(length >> 8),
                                          std::uint8_t(length),
                                          'I',
                                          'D',
                                          'A',
                                          'T'};
            std::copy(head, head + 8, chunk);
            const std::uint32_t crc = Crc(0, chunk + 4, 4 + length);
            for (int i = 0; i < 4; ++i) chunk[8 + length + i] = std::uint8_t(crc >> (24 - 8 * i));
            band.size = 8 + length + 4;
            return;
        }
    }

private:
    // A buffer that is not zeroed when made.
    struct Buffer {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t length = 0;
        explicit Buffer(std::size_t n = 0) : bytes(new std::uint8_t[n]), length(n) {}
        void reset(std::size_t n) { *this = Buffer(n); }
        std::size_t size() const { return length; }
        std::uint8_t* data() { return bytes.get(); }
    };

    const std::uint8_t* pixels_;
    std::size_t rowBytes_;
    int bands_;
    Buffer level_;
    Buffer filtered_;
};

}  // namespace

bool WritePng(const std::uint8_t* pixels, int width, int height, int bands,
              const std::vector<PngChunk>& extra, unsigned threads,
              const std::function<bool(std::string_view)>& write,
              const std::function<bool(int rows)>& ready) {
    if (width <= 0 || height <= 0 || (bands != 3 && bands != 4)) {
        throw std::runtime_error("no picture to write as PNG");
    }
    const std::size_t rowBytes = std::size_t(width) * std::size_t(bands);
    // A band is at least a row, and ISA-L counts its bytes in 32 bits.
    if (rowBytes >= std::size_t{1} << 31) throw std::runtime_error("rows too long for PNG");

    std::string head("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    PutBig32(header, std::uint32_t(width));
    PutBig32(header, std::uint32_t(height));
    header +=
        {8, bands == 4 ? '\6' : '\2', 0, 0, 0};  // 8 bits, RGB(A), deflate, rows, no interlace
    head += Chunk("IHDR", header);
    for (const PngChunk& chunk : extra) head += Chunk(chunk.type, chunk.data);
    // The zlib stream's header: deflate with a 32 KiB window, made by the fastest level.
    head += Chunk("IDAT", {"\x78\x01", 2});
    if (!write(head)) return false;

    const int rowsPerBand =
        static_cast<int>(std::clamp<std::size_t>(kBandBytes / (rowBytes + 1), 1, height));
    const std::size_t count = (std::size_t(height) + rowsPerBand - 1) / rowsPerBand;
    threads = static_cast<unsigned>(std::clamp<std::size_t>(threads, 1, count));
    auto rows = [&](std::size_t i, BandDeflater& deflater, Band& band) {
        const int first = static_cast<int>(i) * rowsPerBand;
        const int end = std::min(height, first + rowsPerBand);
        if (ready && !ready(end)) throw std::runtime_error("the picture was never finished");
        deflater.Deflate(first, end, i + 1 == count, band);
    };
    std::uint32_t adler = 1;
    auto emit = [&](const Band& band) {
        adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.filtered));
        return write({reinterpret_cast<const char*>(band.bytes.get()), band.size});
    };

    if (threads == 1) {
        BandDeflater deflater(pixels, rowBytes, bands);
        Band band;
        for (std::size_t i = 0; i < count; ++i) {
            rows(i, deflater, band);
            if (!emit(band)) return false;
        }
    } else {
        // Threads deflate bands in turn into a ring of slots, at most one ring ahead of this
        // thread, which writes them out in order.
        const std::size_t ring = 2 * std::size_t(threads);
        std::vector<Band> slots(ring);
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t written = 0;
        bool stop = false;
        std::exception_ptr failure;
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            try {
                BandDeflater deflater(pixels, rowBytes, bands);
                for (std::size_t i; (i = next++) < count;) {
                    Band& slot = slots[i % ring];
                    {
                        std::unique_lock lock(mutex);
                        changed.wait(lock, [&] { return stop || i < written + ring; });
                        if (stop) return;
                    }
                    rows(i, deflater, slot);
                    {
                        const std::lock_guard lock(mutex);
                        slot.index = i;
                    }
                    changed.notify_all();
                }
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!failure) failure = std::current_exception();
                stop = true;
                changed.notify_all();
            }
        };
        bool ok = true;
        {
            std::vector<std::jthread> pool;
            for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
            for (std::size_t k = 0; k < count && ok; ++k) {
                Band& slot = slots[k % ring];
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return stop || slot.index == k; });
                    if (stop) break;
                }
                ok = emit(slot);
                {
                    const std::lock_guard lock(mutex);
                    written = k + 1;
                    stop = stop || !ok;
                }
                changed.notify_all();
            }
        }
        if (failure) std::rethrow_exception(failure);
        if (!ok) return false;
    }

    std::string tail;
    std::string check;
    PutBig32(check, adler);
    tail += Chunk("IDAT", check);
    tail += Chunk("IEND", {});
    return write(tail);
}
