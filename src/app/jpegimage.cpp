#include "app/jpegimage.h"

#include <csetjmp>
#include <cstdio>
#include <limits>
#include <jpeglib.h>

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decoder below.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf back;
};

extern "C" void onError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->back, 1);
}

extern "C" void onMessage(j_common_ptr info, int level)
{
    // Warnings (level -1: damaged data) are counted, not printed; trace
    // messages are dropped.
    if (level < 0)
        ++info->err->num_warnings;
}

extern "C" void onOutput(j_common_ptr)
{
}

// The decoding proper. Everything it touches between setjmp and the end is
// either a plain C object or lives in the caller, so the jump destroys
// nothing. False when libjpeg gave up.
bool decode(jpeg_decompress_struct &info, ErrorManager &errors, const QByteArray &data, qint64 maxPixels,
            QImage &image)
{
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    errors.pub.output_message = onOutput;
    if (setjmp(errors.back)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK
        || qint64(info.image_width) * qint64(info.image_height) > maxPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    if (image.isNull()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // Warnings are about damaged data (a picture cut off, a bad segment):
    // such a picture is not shown half-made.
    const bool whole = errors.pub.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return whole;
}

} // namespace

QImage DecodeJpeg(const QByteArray &data, qint64 maxPixels)
{
    if (data.isEmpty() || quint64(data.size()) > quint64(std::numeric_limits<unsigned long>::max()))
        return QImage();
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    QImage image;
    if (!decode(info, errors, data, maxPixels, image))
        return QImage();
    return image;
}
