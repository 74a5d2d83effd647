#include "render/ImageWriter.h"

#include "math/FatalError.h"
#include "render/AtomicFile.h"
#include "render/FrameBuffer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace Raytracer {

namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Rows top first, RGB bytes.
std::vector<unsigned char> displayBytes(const FrameBuffer& frame) {
    const int w = frame.width();
    const int h = frame.height();
    std::vector<unsigned char> bytes(static_cast<std::size_t>(w) * h * 3);
    std::size_t i = 0;
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const Color& c = frame.at(x, y);
            bytes[i++] = toDisplayByte(c.r);
            bytes[i++] = toDisplayByte(c.g);
            bytes[i++] = toDisplayByte(c.b);
        }
    }
    return bytes;
}

// What went wrong inside libpng, kept for our one line instead of libpng printing its own.
struct PngFailure {
    const char* message = nullptr;
    int error = 0; // errno as the failing write left it, 0 when it was no write
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    PngFailure& failure = *static_cast<PngFailure*>(png_get_error_ptr(png));
    failure.error = errno;
    failure.message = message;
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

void writePng(std::FILE* file, const std::string& path, int w, int h, std::vector<unsigned char>& bytes) {
    PngFailure failure;
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError, onPngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw FatalError(AtomicFile::failureLine(path, "out of memory"));
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        rows[y] = bytes.data() + static_cast<std::size_t>(y) * w * 3;
    }
    // libpng reports errors by longjmp; nothing with a destructor is created past this point.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        const std::string reason = failure.error != 0
                                       ? std::strerror(failure.error)
                                       : "the PNG encoder failed: " + std::string(failure.message);
        throw FatalError(AtomicFile::failureLine(path, reason.c_str()));
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

} // namespace

unsigned char toDisplayByte(float channel) {
    if (!(channel > 0.0f)) {
        return 0;
    }
    if (channel >= 1.0f) {
        return 255;
    }
    return static_cast<unsigned char>(channel * 255.0f + 0.5f);
}

void writeImage(const FrameBuffer& frame, const std::string& path) {
    std::vector<unsigned char> bytes = displayBytes(frame);
    AtomicFile file(path);
    if (endsWith(path, ".png")) {
        writePng(file.stream(), path, frame.width(), frame.height(), bytes);
    } else {
        std::fprintf(file.stream(), "P6\n%d %d\n255\n", frame.width(), frame.height());
        std::fwrite(bytes.data(), 1, bytes.size(), file.stream());
    }
    file.commit();
}

} // namespace Raytracer
