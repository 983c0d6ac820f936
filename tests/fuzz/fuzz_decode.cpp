// The picture front door: any bytes -> decode -> small resize -> encode.
// The HEIF box reader also reads every input on its own.
// A picture that decodes must resize and encode; nothing may crash, read
// out of bounds or allocate beyond the pixel budget. Resized as it is
// decoded, it must be refused alike or give the same pixels.
#include "imaging/decode/decode.h"
#include "imaging/decode/heif_boxes.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The HEIF box reader sees every input, not only those with a HEIF brand.
    tovalin::detail::readHeifSizes(data, size);
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const tovalin::DecodeResult d = tovalin::decodeImageData(bytes);
    const tovalin::DecodeResult r = tovalin::decodeImageData(bytes, [](QSize) { return QSize(17, 11); });
    if ((r.error == tovalin::DecodeError::None) == r.image.isNull())
        std::abort();
    if (d.error != tovalin::DecodeError::None) {
        if (!d.image.isNull() || (r.error == tovalin::DecodeError::None && d.error != tovalin::DecodeError::OutOfMemory))
            std::abort();
        return 0;
    }
    if (d.image.isNull() || d.image.format() != QImage::Format_RGB888)
        std::abort();
    tovalin::ImageHolder h;
    h.setImage(d.image);
    if (h.resize(17, 11) != tovalin::ResizeOutcome::Done)
        std::abort();
    // libde265 conceals some damage without a word, and such a picture's
    // pixels can differ from one decoding to the next: the two ways are
    // held to each other only where the whole decoding repeats itself.
    if (r.error != tovalin::DecodeError::None
        || (r.image != (r.resized ? h.image() : d.image) && tovalin::decodeImageData(bytes).image == d.image))
        std::abort();
    if (tovalin::encodeJpeg(h.image(), 128).error != tovalin::EncodeError::None)
        std::abort();
    return 0;
}
