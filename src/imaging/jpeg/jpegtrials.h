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
class ShortestFiner;
struct QuantTables;
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
    // The file at a factor. Ours is the shortest of the encodings at that
    // factor and the finer ones, so it never grows with the factor.
    QByteArray encode(int factor) const;
    // A size search's trial under `limit`: the file at `factor` where its
    // size is over the limit, the encoding at `factor` alone where that is
    // within the limit (the file too wherever no finer factor's is within
    // it, as at the factor the search settles on). Measures finer factors
    // only where they may decide which side of the limit the file is.
    QByteArray encodeWithin(int factor, std::int64_t limit) const;
    // The factor whose encoding is the file at `factor`.
    int fileFactor(int factor) const;
    // encode(factor)'s size, from the encodings already made where it can.
    std::int64_t fileSize(int factor) const;
    // Whether the file's size never grows with the factor (ours; libjpeg's
    // optimised tables can add a few bytes).
    bool sizesNeverGrow() const { return m_finer != nullptr; }
    // The size encode(factor) would give, roughly (within a few per cent
    // on photos), from a sample of the picture's rows: a small fraction of
    // an encoding's time. For guessing which way a search goes next.
    std::int64_t estimateSize(int factor) const;

private:
    detail::Coefficients coefficients() const;
    QByteArray encodeAt(int factor) const;
    detail::QuantTables tablesAt(int factor) const;
    // At most encodeAt(factor)'s size, counted once per picture (ours).
    std::int64_t lowerAt(int factor) const;
    QByteArray singleScanFile(const detail::QuantTables &q) const;

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
    std::unique_ptr<detail::ShortestFiner> m_finer; // ours: the encoding each factor takes
};

// One file at one factor from the trials, checked as encodeJpeg checks.
EncodeResult encodeWithTrials(const QImage &rgb888, int factor, Encoder encoder);

} // namespace tovalin
