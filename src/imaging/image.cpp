#include "imaging/image.h"
#include "imaging/resample/resample.h"

namespace tovalin {

void ImageHolder::setImage(const QImage &rgb)
{
    Q_ASSERT(rgb.isNull() || rgb.format() == QImage::Format_RGB888);
    m_image = rgb;
}

ResizeOutcome ImageHolder::resize(int width, int height)
{
    QImage out(width, height, QImage::Format_RGB888);
    if (out.isNull())
        return ResizeOutcome::OutOfMemory;
    const QImage &in = m_image;
    const RgbView src{const_cast<uchar *>(in.constBits()), in.width(), in.height(), in.bytesPerLine()};
    const RgbView dst{out.bits(), out.width(), out.height(), out.bytesPerLine()};
    if (!resampleBicubic(src, dst))
        return ResizeOutcome::OutOfMemory;
    m_image = out;
    return ResizeOutcome::Done;
}

} // namespace tovalin
