#include "app/jpegimage.h"

#include "common/error.h"

#include <QSysInfo>

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

// libjpeg reports failures by calling back and expects the callback not to return. A C++ exception
// must not cross its C frames, so the callback jumps back to the setjmp in front of the libjpeg calls,
// and the failure is thrown from there. The functions holding a setjmp keep no C++ objects alive,
// so the jump skips no destructor.

namespace {

struct ErrorManager {
    jpeg_error_mgr base; // first, so libjpeg's pointer to it is also a pointer to this
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void failWithMessage(j_common_ptr info)
{
    auto *manager = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Level -1 is a warning about damaged data; higher levels are trace messages, which we do not want.
void failOnWarning(j_common_ptr info, int level)
{
    if (level < 0)
        failWithMessage(info);
}

// The pixel layout of QImage::Format_RGB32 (0xffRRGGBB as a 32-bit word) in memory.
constexpr J_COLOR_SPACE kRgb32Layout =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRA : JCS_EXT_ARGB;

bool create(jpeg_decompress_struct &info, ErrorManager &errors)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_create_decompress(&info);
    return true;
}

bool readHeader(jpeg_decompress_struct &info, ErrorManager &errors, const QByteArray &data)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = kRgb32Layout;
    jpeg_calc_output_dimensions(&info);
    return true;
}

bool readPixels(jpeg_decompress_struct &info, ErrorManager &errors, uchar *bits, qsizetype bytesPerLine)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = bits + info.output_scanline * bytesPerLine;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

// The decompressor of one decoding. Releasing it is safe in any state libjpeg was left in, also when
// creating it failed.
struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorManager errors{};

    Decompressor()
    {
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = failWithMessage;
        errors.base.emit_message = failOnWarning;
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    [[noreturn]] void fail() const { throw Error(QString::fromLatin1(errors.message)); }
};

} // namespace

QImage DecodeJpeg(const QByteArray &data)
{
    Decompressor d;
    if (!create(d.info, d.errors) || !readHeader(d.info, d.errors, data))
        d.fail();
    QImage image(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height),
                 QImage::Format_RGB32);
    if (image.isNull())
        throw Error(QStringLiteral("Недостаточно памяти для картинки %1 на %2")
                        .arg(d.info.output_width)
                        .arg(d.info.output_height));
    if (!readPixels(d.info, d.errors, image.bits(), image.bytesPerLine()))
        d.fail();
    return image;
}
