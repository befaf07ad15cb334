// The moxel tool's image loading on arbitrary bytes: PNG and JPEG, whole, cut off or damaged.
// LoadImage must either give a well-formed image within the pixel limit or refuse the file with
// an ImageError; anything else (a crash, another exception, a sanitizer report) is a finding.
//
// The bytes are handed over as a file, as the tool gets them, but one that lives in memory: a
// memfd, opened by its /proc name. That name has no extension, so the content alone picks the
// decoder.
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "image_io.h"

namespace {

// Large enough for every seed, small enough that a header claiming a big picture is refused
// rather than decoded for seconds.
constexpr std::uint64_t kMaxPixels = 512 * 512;

class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("moxel-fuzz-image", MFD_CLOEXEC)) { FUZZ_CHECK(fd_ >= 0); }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void Hold(const std::uint8_t* data, std::size_t size) {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t wrote = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(wrote > 0);
            done += static_cast<std::size_t>(wrote);
        }
    }

    std::filesystem::path path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    file.Hold(data, size);
    try {
        const Image image = LoadImage(file.path(), kMaxPixels);
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(static_cast<std::uint64_t>(image.width) * image.height <= kMaxPixels);
        FUZZ_CHECK(image.pixels.size() == static_cast<std::size_t>(image.width) * image.height * 3);
        // Only a file that starts like one of the two formats is decoded at all.
        FUZZ_CHECK(size >= 3 && ((data[0] == 0x89 && data[1] == 'P' && data[2] == 'N') ||
                                 (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)));
    } catch (const ImageError&) {
        // A refusal with a reason is what the tool expects for a bad file.
    }
    return 0;
}
