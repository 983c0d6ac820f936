#pragma once
#include <array>
#include <cstdint>

#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/trials_kernels.h"

// The quantisation of the trials: the tables a factor gives, and how a
// block's coefficients become the levels written.
namespace tovalin::detail {

struct QuantTables {
    std::array<std::array<std::uint8_t, kBlock>, 2> natural{}; // as written in DQT (natural order)
    std::array<Quantizer, 2> zigzag{};                        // for coefficients in zigzag order
    bool ours = false; // our dead zone and tail trimming; else libjpeg's plain rounding
};

// The tables for a factor: libjpeg's (its standard tables through
// quantScaleForFactor), or ours (flatter ones, scaled as libjpeg's up to
// factor 30 and by an even ratio a step after it).
QuantTables quantTablesFor(int factor, Encoder encoder);
// Our quantiser (dead zone, tail trimming) with the given steps.
QuantTables ourTablesWithSteps(const std::array<std::array<std::uint8_t, kBlock>, 2> &natural);

// A block's 64 coefficients (zigzag order, the DCT's units) to levels;
// returns which levels are not zero (bit k: zigzag k).
std::uint64_t quantizeBlock(const std::int16_t *coefs, const QuantTables &q, int table, std::int16_t *levels);

// Our encoder's last step for a block: while its last level is a lone +-1
// whose code, after its run of zeros, costs more bits than the error it
// removes is worth (at a tenth of a squared step per bit), it goes.
std::uint64_t trimTail(const std::int16_t *coefs, const std::array<std::uint8_t, kBlock> &natural, std::int16_t *levels,
                       std::uint64_t nonzero);

} // namespace tovalin::detail
