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

QImage fittedInside(const QImage &rgb888, QSize box)
{
    if (rgb888.width() <= box.width() && rgb888.height() <= box.height())
        return rgb888;
    ImageHolder fitted;
    fitted.setImage(rgb888);
    const QSize size = rgb888.size().scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    if (fitted.resize(size.width(), size.height()) != ResizeOutcome::Done)
        return {};
    return fitted.image();
}

} // namespace tovalin
