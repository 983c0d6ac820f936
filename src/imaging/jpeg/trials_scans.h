#pragma once
#include <QByteArray>

#include <array>
#include <cstdint>

#include "imaging/jpeg/trials_quant.h"

// Our encoder's progressive file: the DC of every block first, then bands
// of AC coefficients one component at a time, each band's empty blocks
// coded as runs (EOBRUN), each scan with its own optimal Huffman table.
namespace tovalin::detail {

// A picture's coefficients as the trials hold them: per MCU, four luma
// blocks then Cb and Cr.
struct Coefficients {
    int width = 0;
    int height = 0;
    int mcusAcross = 0;
    int mcusDown = 0;
    const std::int16_t *coefs = nullptr;
};

void appendMarker(QByteArray &out, std::uint8_t marker, const QByteArray &body);

// Start, JFIF, both quantisation tables and the frame header (`frame`:
// 0xC0 baseline, 0xC2 progressive) of a three-component 4:2:0 file.
void appendHeaders(QByteArray &out, const QuantTables &tables, int width, int height, std::uint8_t frame);

// The whole file.
QByteArray progressiveFile(const Coefficients &picture, const QuantTables &tables);

// Its size without the stuffed bytes (a lower bound), from the counting
// pass alone: about half an encoding's time.
std::int64_t progressiveBytesBeforeStuffing(const Coefficients &picture, const QuantTables &tables);

// Its size, roughly, from every step-th MCU row.
std::int64_t progressiveEstimate(const Coefficients &picture, const QuantTables &tables, int step);

} // namespace tovalin::detail
