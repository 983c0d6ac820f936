#pragma once
#include <QSize>
#include <cstddef>
#include <cstdint>

namespace tovalin::detail {

// What libheif will really make of a HEIF or AVIF file's primary picture,
// read from the file's own boxes rather than from the sizes it declares:
// `output` is the picture libheif allocates (a grid's or overlay's canvas
// from its own description, else the coded size), `largestCoded` the
// largest picture made on the way (the primary one, or the largest tile or
// derived tile's canvas), from the HEVC sequence parameters, the AV1
// sequence header, or a derived picture's own description.
// A size the file does not tell stays invalid.
struct HeifSizes {
    QSize output;
    QSize largestCoded;
    bool coded = false; // the primary picture is coded itself (not a grid, overlay or identity)
};

HeifSizes readHeifSizes(const std::uint8_t *data, std::size_t size);

} // namespace tovalin::detail
