#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>

namespace tovalin {

// The largest side a baseline JPEG can have (libjpeg's JPEG_MAX_DIMENSION).
constexpr int kMaxJpegSide = 65500;

constexpr int kBestFactor = 2;
constexpr int kStrongestFactor = 255;

// libjpeg's quantiser scaling (percent, as jpeg_set_linear_quality takes it)
// for a quality factor 2..255: 2 is the finest libjpeg offers (every step 1),
// 255 the scaling of libjpeg quality 1, 30 about libjpeg quality 85, and the
// scaling never falls as the factor rises. Factors outside 2..255 are clamped.
int quantScaleForFactor(int factor);

// Which encoder writes the files: our own (the default: progressive), our
// own with one baseline scan for old systems, or one whose bytes are
// exactly libjpeg's.
enum class Encoder { Tovalin, TovalinBaseline, Libjpeg };

enum class EncodeError { None, NoImage, TooLargeForJpeg, EncoderFailed };

struct EncodeResult {
    QByteArray bytes; // the whole JFIF file; empty on failure
    EncodeError error = EncodeError::None;
};

// NoImage for a null or non-RGB888 picture, TooLargeForJpeg past a JPEG's
// sides, else None: what every encoder checks first.
EncodeError encodable(const QImage &rgb888);

// 24-bit YCbCr JFIF baseline, 4:2:0, optimised Huffman tables.
EncodeResult encodeJpeg(const QImage &rgb888, int factor);

} // namespace tovalin
