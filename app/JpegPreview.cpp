#include "app/JpegPreview.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include <QImageReader>
#include <QString>

#include <jpeglib.h>

namespace tarnwick {

namespace {

struct TJpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void FailDecode(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TJpegErrorManager*>(info->err)->jump, 1);
}

// Level -1 is a warning: corrupt data or a premature end, which libjpeg would paper over with
// grey. A preview that is not whole is not shown.
void OnMessage(j_common_ptr info, int level) {
    if (level < 0) FailDecode(info);
}

void Silent(j_common_ptr) {}

// Plain data only: the two functions below are left by longjmp from inside libjpeg, so nothing
// with a destructor may live in their frames. This object lives in the caller's frame.
struct TJpegDecoder {
    jpeg_decompress_struct info{};
    TJpegErrorManager error{};
    bool created = false;

    TJpegDecoder() = default;
    TJpegDecoder(const TJpegDecoder&) = delete;
    TJpegDecoder& operator=(const TJpegDecoder&) = delete;
    ~TJpegDecoder() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

bool ReadHeader(TJpegDecoder& decoder, std::FILE* file, unsigned minWidth, unsigned minHeight) {
    decoder.info.err = jpeg_std_error(&decoder.error.base);
    decoder.error.base.error_exit = FailDecode;
    decoder.error.base.emit_message = OnMessage;
    decoder.error.base.output_message = Silent;
    if (setjmp(decoder.error.jump)) return false;
    jpeg_create_decompress(&decoder.info);
    decoder.created = true;
    jpeg_stdio_src(&decoder.info, file);
    jpeg_read_header(&decoder.info, TRUE);
    const std::uint64_t width = decoder.info.image_width;
    const std::uint64_t height = decoder.info.image_height;
    if (width == 0 || height == 0 || width * height > kMaxPreviewPixels) return false;
    unsigned scale = 8;
    while (scale > 1 && width * (scale - 1) / 8 >= minWidth && height * (scale - 1) / 8 >= minHeight) --scale;
    decoder.info.scale_num = scale;
    decoder.info.scale_denom = 8;
    decoder.info.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&decoder.info);
    return decoder.info.output_components == 3;
}

bool ReadPixels(TJpegDecoder& decoder, unsigned char* pixels, std::size_t bytesPerLine) {
    if (setjmp(decoder.error.jump)) return false;
    jpeg_start_decompress(&decoder.info);
    while (decoder.info.output_scanline < decoder.info.output_height) {
        JSAMPROW row = pixels + std::size_t{decoder.info.output_scanline} * bytesPerLine;
        if (jpeg_read_scanlines(&decoder.info, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(&decoder.info);
    return true;
}

// The picture format the first bytes of a file show: "jpeg", "png", "gif", "webp", or none.
const char* PictureFormat(std::string_view head) {
    if (head.starts_with("\xFF\xD8\xFF")) return "jpeg";
    if (head.starts_with("\x89PNG\r\n\x1A\n")) return "png";
    if (head.starts_with("GIF87a") || head.starts_with("GIF89a")) return "gif";
    if (head.size() >= 12 && head.starts_with("RIFF") && head.substr(8, 4) == "WEBP") return "webp";
    return nullptr;
}

std::string FileHead(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!file) return {};
    char head[12];
    return std::string(head, std::fread(head, 1, sizeof head, file.get()));
}

// A picture of another format through the one Qt reader that format has.
QImage LoadThroughQt(const std::string& path, const char* format, QSize atLeast) {
    QImageReader reader(QString::fromStdString(path), format);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() ||
        std::uint64_t(size.width()) * std::uint64_t(size.height()) > kMaxPreviewPixels)
        return {};
    const QSize cover = size.scaled(atLeast.expandedTo(QSize(1, 1)), Qt::KeepAspectRatioByExpanding);
    if (cover.width() < size.width() && cover.height() < size.height()) reader.setScaledSize(cover);
    return reader.read();
}

}  // namespace

QImage LoadPreview(const std::string& path, QSize atLeast) {
    const char* format = PictureFormat(FileHead(path));
    if (!format) return {};
    if (std::strcmp(format, "jpeg") == 0) return LoadJpegPreview(path, atLeast);
    return LoadThroughQt(path, format, atLeast);
}

QImage LoadJpegPreview(const std::string& path, QSize atLeast) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!file) return {};
    TJpegDecoder decoder;
    if (!ReadHeader(decoder, file.get(), static_cast<unsigned>(std::max(atLeast.width(), 1)),
                    static_cast<unsigned>(std::max(atLeast.height(), 1))))
        return {};
    QImage image(static_cast<int>(decoder.info.output_width), static_cast<int>(decoder.info.output_height),
                 QImage::Format_RGB888);
    if (image.isNull()) return {};
    if (!ReadPixels(decoder, image.bits(), static_cast<std::size_t>(image.bytesPerLine()))) return {};
    return image;
}

}  // namespace tarnwick
