#pragma once
#include <QImage>

namespace tovalin {

enum class ResizeOutcome { Done, OutOfMemory };

// One image slot, as held by the viewer and by the work image. Assigning one
// holder from another gives it its own copy: changing it later leaves the
// other holder's pixels as they were.
class ImageHolder {
public:
    bool hasImage() const { return !m_image.isNull(); }
    float width() const { return static_cast<float>(m_image.width()); }
    float height() const { return static_cast<float>(m_image.height()); }
    const QImage &image() const { return m_image; }

    // Takes an RGB888 image (see normalizeForOutput).
    void setImage(const QImage &rgb);
    void clear() { m_image = QImage(); }
    void assignFrom(const ImageHolder &other) { m_image = other.m_image; }

    // Bicubic resampling to exactly width x height.
    ResizeOutcome resize(int width, int height);

private:
    QImage m_image; // Format_RGB888; shared until one side writes
};

// An RGB888 picture made to fit inside `box`, its aspect ratio kept, by the
// same bicubic resampling (the picture itself when it already fits); null
// when memory runs out. For the screen: Qt's smooth scaling of a large
// picture waits on its own thread pool, forever where no thread can be had.
QImage fittedInside(const QImage &rgb888, QSize box);

} // namespace tovalin
