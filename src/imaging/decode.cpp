#include "imaging/decode.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <thread>

namespace tovalin {

namespace {

// A large photograph (100 megapixels at four bytes a pixel) must load;
// Qt's default stops at 256 MB.
constexpr int kAllocationLimitMb = 4096;

// A JPEG cut short still decodes (the rest turns grey); refuse it instead of
// resizing a damaged picture. The end marker sits at the end, give or take
// some padding.
bool jpegLooksTruncated(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return true;
    const qint64 size = f.size();
    const qint64 tailSize = qMin<qint64>(size, 4096);
    f.seek(size - tailSize);
    return !f.read(tailSize).contains("\xFF\xD9");
}

// Mapping fresh pages costs as much as decoding into them on some machines.
// Let the kernel map the image's pages on a second core, top row first,
// while the decoder fills them; the pixels themselves are not touched.
class PageMapper {
public:
    explicit PageMapper(QImage &image)
    {
        const auto begin = reinterpret_cast<std::uintptr_t>(image.bits());
        const std::uintptr_t page = 4096;
        m_begin = (begin + page - 1) & ~(page - 1);
        m_end = (begin + static_cast<std::uintptr_t>(image.sizeInBytes())) & ~(page - 1);
        if (m_end > m_begin + (4u << 20))
            m_thread = std::thread([this] { run(); });
    }
    ~PageMapper()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    PageMapper(const PageMapper &) = delete;
    PageMapper &operator=(const PageMapper &) = delete;

private:
    void run() const
    {
        // Large pages cut the number of faults 512-fold where the kernel offers them.
        madvise(reinterpret_cast<void *>(m_begin), m_end - m_begin, MADV_HUGEPAGE);
        constexpr std::uintptr_t kChunk = 2u << 20;
        for (std::uintptr_t p = m_begin; p < m_end; p += kChunk)
            if (madvise(reinterpret_cast<void *>(p), std::min(kChunk, m_end - p), MADV_POPULATE_WRITE) != 0)
                return; // an older kernel: the decoder maps them itself
    }

    std::uintptr_t m_begin = 0;
    std::uintptr_t m_end = 0;
    std::thread m_thread;
};

// Reads into an image allocated here, of the size and format the reader
// will produce, so that its pages can be mapped ahead of the decoder.
QImage readWithMappedPages(QImageReader &reader)
{
    QImage image;
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    const bool rotated = reader.transformation() & QImageIOHandler::TransformationRotate90;
    if (size.isValid() && format != QImage::Format_Invalid && !rotated)
        image = QImage(size, format);
    if (image.isNull()) {
        reader.read(&image);
        return image;
    }
    {
        const PageMapper mapper(image);
        if (!reader.read(&image))
            image = QImage();
    }
    return image;
}

} // namespace

QImage normalizeForOutput(QImage image)
{
    if (image.isNull())
        return image;
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb)) {
        if (image.format() == QImage::Format_Indexed8 || image.depth() < 8)
            image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    }
    if (image.hasAlphaChannel()) {
        // The output has no alpha: blend each pixel over white.
        image = image.convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            return image;
        for (int y = 0; y < image.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = row[x];
                const int a = qAlpha(p);
                auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
                row[x] = qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p)));
            }
        }
    }
    if (image.format() != QImage::Format_RGB888)
        image.convertTo(QImage::Format_RGB888);
    image.setColorSpace(QColorSpace());
    return image;
}

DecodeResult decodeImageFile(const QString &path)
{
    QImageReader::setAllocationLimit(kAllocationLimitMb);
    QFileInfo info(path);
    if (!info.exists())
        return {{}, QStringLiteral("ファイルが見つかりません。")};
    if (info.isDir())
        return {{}, QStringLiteral("フォルダは画像として読み込めません。")};

    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {{}, QStringLiteral("画像ファイルとして読み込めない形式です。")};
    const QByteArray format = reader.format();
    QImage image = readWithMappedPages(reader);
    if (image.isNull())
        return {{}, QStringLiteral("画像を読み込めませんでした（ファイルが壊れているか、大きすぎます）。")};
    if (format == "jpeg" && jpegLooksTruncated(path))
        return {{}, QStringLiteral("画像ファイルが途中で切れています。")};
    image = normalizeForOutput(std::move(image));
    if (image.isNull())
        return {{}, QStringLiteral("画像が大きすぎて、メモリに収まりません。")};
    return {image, {}};
}

} // namespace tovalin
