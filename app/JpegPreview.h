#pragma once

#include <QImage>

#include <cstdint>
#include <string>

namespace tarnwick {

// Pictures that declare more pixels than this are refused before any pixel memory is taken.
inline constexpr std::uint64_t kMaxPreviewPixels = 50'000'000;

// Decodes the JPEG file at path for the preview through libjpeg. The decoder scales the picture
// down by itself (1/8 to 8/8) to the smallest size that still covers atLeast, so a large photo
// costs little memory and time. Returns a null image when the file cannot be read, is not a JPEG,
// is truncated or corrupt (libjpeg's warnings count as failures), or declares more than
// kMaxPreviewPixels. Never throws.
QImage LoadJpegPreview(const std::string& path, QSize atLeast = QSize(240, 180));

// Decodes the preview file at path whatever its kind, which its first bytes tell (its name does
// not): a JPEG through LoadJpegPreview; a PNG, GIF (its first frame) or WebP through Qt's image
// reader for that format alone, scaled down to the smallest size that still covers atLeast.
// Returns a null image for any other file, one that cannot be decoded, or one that declares more
// than kMaxPreviewPixels. Never throws.
QImage LoadPreview(const std::string& path, QSize atLeast = QSize(240, 180));

}  // namespace tarnwick
