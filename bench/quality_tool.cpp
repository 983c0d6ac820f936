// tovalin-quality: the quality benchmark's helpers (bench/quality.py).
//   tovalin-quality resize IN LONG_EDGE OUT.png   IN read as Tovalin reads it,
//                                                 resized with its resampler,
//                                                 an 8-bit PNG without colour chunks
//   tovalin-quality qtdecode JPEG...              "ok" or "failed" a file, as
//                                                 Qt's own reader reads it
//   tovalin-quality sizes PNG [baseline|libjpeg]  the file's size at every
//                                                 factor 2..255, one a line
#include "batch/sizerule.h"
#include "imaging/decode/decode.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpegtrials.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QImageReader>
#include <QImageWriter>

#include <cstdio>

using namespace tovalin;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("resize")) {
        const DecodeResult decoded = decodeImageFile(args[2]);
        if (decoded.error != DecodeError::None)
            return 1;
        SizeRule rule;
        rule.kind = SizeRule::LongEdge;
        rule.edge = args[3].toInt();
        const QSize size = targetSize(rule, decoded.image.size());
        ImageHolder holder;
        holder.setImage(decoded.image);
        if (size != decoded.image.size() && holder.resize(size.width(), size.height()) != ResizeOutcome::Done)
            return 1;
        QImage out = holder.image();
        out.setColorSpace(QColorSpace()); // no gAMA, cHRM, sRGB or iCCP chunk
        QImageWriter writer(args[4], "png");
        return writer.write(out) ? 0 : 1;
    }
    if (args.size() >= 3 && args[1] == QLatin1String("qtdecode")) {
        for (int i = 2; i < args.size(); ++i) {
            QImageReader reader(args[i]);
            const QImage image = reader.read();
            std::puts(!image.isNull() && image.size() == reader.size() ? "ok" : "failed");
        }
        return 0;
    }
    if ((args.size() == 3 || args.size() == 4) && args[1] == QLatin1String("sizes")) {
        const DecodeResult decoded = decodeImageFile(args[2]);
        if (decoded.error != DecodeError::None)
            return 1;
        const QString kind = args.value(3);
        const JpegTrials trials(decoded.image, kind == QLatin1String("libjpeg")    ? Encoder::Libjpeg
                                               : kind == QLatin1String("baseline") ? Encoder::TovalinBaseline
                                                                                   : Encoder::Tovalin);
        for (int factor = kBestFactor; factor <= kStrongestFactor; ++factor)
            std::printf("%d %lld\n", factor, static_cast<long long>(trials.encode(factor).size()));
        return trials.ok() ? 0 : 1;
    }
    std::fputs("usage: tovalin-quality resize IN LONG_EDGE OUT.png | qtdecode JPEG... | sizes PNG [baseline|libjpeg]\n", stderr);
    return 2;
}
