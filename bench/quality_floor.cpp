// tovalin-floor PICTURE...: how visible the 8x8 blocks become with the
// factor, for choosing the quality floor of shrink to fit. Each picture is
// resized to a long edge of 1600 (as a batch for mail would), encoded at
// factors 30..255 and decoded again. A block shows where the encoding left
// only its mean: an 8x8 luma block that varied in the picture (by 6 levels
// or more) and comes back flat (within 1 level) is drawn as a square tile
// beside its neighbours. Prints, per factor, the share of the pictures'
// varied blocks that came back flat (median and largest over the
// pictures) and the median file size.
#include "batch/sizerule.h"
#include "imaging/decode/decode.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tovalin;

namespace {

double luma(const uchar *p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

// The share of the picture's varied 8x8 luma blocks that the encoding flattened.
double flattened(const QImage &original, const QImage &decoded)
{
    long varied = 0, flat = 0;
    for (int by = 0; by + 8 <= original.height(); by += 8)
        for (int bx = 0; bx + 8 <= original.width(); bx += 8) {
            double lo[2] = {255, 255}, hi[2] = {0, 0};
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x)
                    for (int i = 0; i < 2; ++i) {
                        const double l = luma((i ? decoded : original).constScanLine(y) + 3 * x);
                        lo[i] = std::min(lo[i], l);
                        hi[i] = std::max(hi[i], l);
                    }
            if (hi[0] - lo[0] >= 6) {
                ++varied;
                flat += hi[1] - lo[1] <= 1;
            }
        }
    return varied ? double(flat) / varied : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<QImage> pictures;
    SizeRule rule;
    rule.kind = SizeRule::LongEdge;
    rule.edge = 1600;
    rule.noEnlarge = true;
    for (int i = 1; i < argc; ++i) {
        const DecodeResult d = decodeImageFile(QString::fromLocal8Bit(argv[i]));
        if (d.error != DecodeError::None)
            continue;
        ImageHolder h;
        h.setImage(d.image);
        const QSize s = targetSize(rule, d.image.size());
        if (h.resize(s.width(), s.height()) == ResizeOutcome::Done)
            pictures.push_back(h.image());
    }
    std::printf("factor median_flat_%% max_flat_%% median_kb\n");
    for (int factor = 30; factor <= 255; factor += 5) {
        std::vector<double> b, kb;
        for (const QImage &p : pictures) {
            const QByteArray jpeg = encodeJpeg(p, factor).bytes;
            b.push_back(100 * flattened(p, decodeImageData(jpeg).image));
            kb.push_back(jpeg.size() / 1024.0);
        }
        std::sort(b.begin(), b.end());
        std::sort(kb.begin(), kb.end());
        std::printf("%d %.1f %.1f %.0f\n", factor, b[b.size() / 2], b.back(), kb[kb.size() / 2]);
    }
    return 0;
}
