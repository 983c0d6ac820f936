#pragma once
#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <memory>

#include "imaging/jpeg/jpeg.h"

namespace tovalin {

namespace detail {
struct Coefficients;
class DcSteps;
class SmallestUpTo;
}

// Encodes one picture at many quality factors, as the size search does.
// Colour conversion, chroma downsampling and the DCT do not depend on the
// factor, so they run once, here; each encoding then only quantises and
// entropy-codes, and its bytes are the file written (so a trial's size is
// the file's). All encoders share libjpeg's islow DCT, colour conversion
// and 4:2:0 edge handling, and optimise their Huffman tables. With
// Encoder::Libjpeg the bytes are exactly encodeJpeg's; our own encoder
// has its own tables and quantiser, and writes progressive scans.
//
// Holds the picture's DCT coefficients, 16 bits each: as many bytes as the
// picture's RGB. encode() may run on several threads at once.
class JpegTrials {
public:
    explicit JpegTrials(const QImage &rgb888, Encoder encoder = Encoder::Tovalin);
    ~JpegTrials();

    bool ok() const { return m_coefs != nullptr; }
    QByteArray encode(int factor) const;
    // The size encode(factor) would give, roughly (within a few per cent
    // on photos), from a sample of the picture's rows: a small fraction of
    // an encoding's time. For guessing which way a search goes next.
    std::int64_t estimateSize(int factor) const;

private:
    detail::Coefficients coefficients() const;
    QByteArray encodeAt(int factor) const;

    Encoder m_encoder;
    int m_width = 0;
    int m_height = 0;
    int m_mcusAcross = 0;
    int m_mcusDown = 0;
    static constexpr int kEstimateRows = 8; // MCU rows sampled, at most
    // Per MCU, in scan order: four luma blocks, then Cb and Cr; each block's
    // 64 coefficients in zigzag order, scaled by 8 as libjpeg's DCT leaves them.
    std::unique_ptr<std::int16_t[]> m_coefs;
    std::unique_ptr<detail::DcSteps> m_dcSteps; // ours: the DC step each factor takes
    std::unique_ptr<detail::SmallestUpTo> m_smallest; // ours, small pictures: the encoding each factor takes
};

// One file at one factor from the trials, checked as encodeJpeg checks.
EncodeResult encodeWithTrials(const QImage &rgb888, int factor, Encoder encoder);

} // namespace tovalin
