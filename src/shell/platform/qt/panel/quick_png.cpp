#include "quick_png.hpp"

#include <png.h>
#include <zlib.h>

#include <csetjmp>

namespace orvela::qt {

namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

void flush(png_structp) {}

// libpng reports a failure by longjmp to the setjmp in `encode`; only plain data lives in that
// frame, and the rows and output belong to the caller.
bool encode(const QImage& rgba, QByteArray& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, &out, append, flush);
    png_set_IHDR(png, info, png_uint_32(rgba.width()), png_uint_32(rgba.height()), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    // Stored blocks need neither a long window nor a large hash: zlib's set-up, which clears
    // both, would otherwise cost more than the whole picture.
    png_set_compression_level(png, Z_NO_COMPRESSION);
    png_set_compression_window_bits(png, 9);
    png_set_compression_mem_level(png, 1);
    png_write_info(png, info);
    for (int y = 0; y < rgba.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(rgba.constScanLine(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

QByteArray quickPng(const QImage& image) {
    if (image.isNull()) return {};
    // PNG keeps colours unpremultiplied, bytes in R, G, B, A order.
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QByteArray out;
    out.reserve(qsizetype(rgba.sizeInBytes()) + rgba.height() * 8 + 1024);
    if (!encode(rgba, out)) return {};
    return out;
}

}  // namespace orvela::qt
