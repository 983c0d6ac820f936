#include "batch/metadata.h"

#include "imaging/decode/decode.h"

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace tovalin {

namespace {

struct Kept {
    ExifIfd ifd;
    ExifTag tag;
};

// What is kept: who made the picture with what, when, and how it was exposed.
constexpr Kept kKept[] = {
    {EXIF_IFD_0, EXIF_TAG_MAKE},
    {EXIF_IFD_0, EXIF_TAG_MODEL},
    {EXIF_IFD_0, EXIF_TAG_DATE_TIME},
    {EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION},
    {EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL},
    {EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED},
    {EXIF_IFD_EXIF, ExifTag(0x9010)}, // OffsetTime
    {EXIF_IFD_EXIF, ExifTag(0x9011)}, // OffsetTimeOriginal
    {EXIF_IFD_EXIF, ExifTag(0x9012)}, // OffsetTimeDigitized
    {EXIF_IFD_EXIF, EXIF_TAG_SUB_SEC_TIME_ORIGINAL},
    {EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME},
    {EXIF_IFD_EXIF, EXIF_TAG_FNUMBER},
    {EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_PROGRAM},
    {EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS},
    {EXIF_IFD_EXIF, EXIF_TAG_SHUTTER_SPEED_VALUE},
    {EXIF_IFD_EXIF, EXIF_TAG_APERTURE_VALUE},
    {EXIF_IFD_EXIF, EXIF_TAG_BRIGHTNESS_VALUE},
    {EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_BIAS_VALUE},
    {EXIF_IFD_EXIF, EXIF_TAG_MAX_APERTURE_VALUE},
    {EXIF_IFD_EXIF, EXIF_TAG_METERING_MODE},
    {EXIF_IFD_EXIF, EXIF_TAG_LIGHT_SOURCE},
    {EXIF_IFD_EXIF, EXIF_TAG_FLASH},
    {EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH},
    {EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_MODE},
    {EXIF_IFD_EXIF, EXIF_TAG_WHITE_BALANCE},
    {EXIF_IFD_EXIF, EXIF_TAG_DIGITAL_ZOOM_RATIO},
    {EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM},
    {EXIF_IFD_EXIF, EXIF_TAG_SCENE_CAPTURE_TYPE},
    {EXIF_IFD_EXIF, ExifTag(0xA433)}, // LensMake
    {EXIF_IFD_EXIF, ExifTag(0xA434)}, // LensModel
};

using Data = std::unique_ptr<ExifData, decltype(&exif_data_unref)>;

void copyEntry(const ExifEntry &from, ExifContent *to)
{
    ExifEntry *entry = exif_entry_new();
    if (!entry)
        return;
    entry->tag = from.tag;
    entry->format = from.format;
    entry->components = from.components;
    entry->size = from.size;
    entry->data = static_cast<unsigned char *>(std::malloc(from.size ? from.size : 1));
    if (entry->data) {
        std::memcpy(entry->data, from.data, from.size);
        exif_content_add_entry(to, entry);
    }
    exif_entry_unref(entry);
}

} // namespace

QByteArray safeMetadataSegment(const QByteArray &pictureBytes)
{
    const QByteArray tiff = pictureExif(pictureBytes);
    if (tiff.isEmpty())
        return {};
    const QByteArray block = QByteArray("Exif\0\0", 6) + tiff;
    const Data source(exif_data_new_from_data(reinterpret_cast<const unsigned char *>(block.constData()), unsigned(block.size())),
                      exif_data_unref);
    const Data kept(exif_data_new(), exif_data_unref);
    if (!source || !kept)
        return {};
    // Only what is copied below: no entries of libexif's own making.
    exif_data_unset_option(kept.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_byte_order(kept.get(), exif_data_get_byte_order(source.get()));
    int copied = 0;
    for (const Kept &k : kKept)
        if (const ExifEntry *e = exif_content_get_entry(source->ifd[k.ifd], k.tag)) {
            copyEntry(*e, kept->ifd[k.ifd]);
            ++copied;
        }
    if (copied == 0)
        return {};
    // The pixels are already turned: the orientation is normal.
    ExifEntry *orientation = exif_entry_new();
    if (orientation) {
        orientation->tag = EXIF_TAG_ORIENTATION;
        exif_content_add_entry(kept->ifd[EXIF_IFD_0], orientation);
        exif_entry_initialize(orientation, EXIF_TAG_ORIENTATION);
        exif_set_short(orientation->data, exif_data_get_byte_order(kept.get()), 1);
        exif_entry_unref(orientation);
    }
    unsigned char *saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(kept.get(), &saved, &size);
    if (!saved)
        return {};
    QByteArray segment;
    if (size + 2 <= 0xFFFF) {
        segment = QByteArray("\xFF\xE1", 2);
        segment += char((size + 2) >> 8);
        segment += char((size + 2) & 0xFF);
        segment += QByteArray(reinterpret_cast<const char *>(saved), int(size));
    }
    std::free(saved);
    return segment;
}

} // namespace tovalin
