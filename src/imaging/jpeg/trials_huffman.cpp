#include "imaging/jpeg/trials_huffman.h"

#include <cmath>

namespace tovalin::detail {

HuffTable optimalTable(std::array<long, 257> freq)
{
    constexpr int kMaxLength = 32;
    std::array<int, kMaxLength + 1> bits{};
    std::array<int, 257> codesize{};
    std::array<int, 257> others;
    others.fill(-1);
    freq[256] = 1;
    for (;;) {
        int c1 = -1, c2 = -1;
        long v = 1000000000L;
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v) {
                v = freq[i];
                c1 = i;
            }
        v = 1000000000L;
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v && i != c1) {
                v = freq[i];
                c2 = i;
            }
        if (c2 < 0)
            break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }
    for (int i = 0; i <= 256; ++i)
        if (codesize[i])
            ++bits[std::min(codesize[i], kMaxLength)];
    int i = kMaxLength;
    for (; i > 16; --i)
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    while (bits[i] == 0)
        --i;
    --bits[i]; // the reserved symbol 256 leaves the longest codes

    HuffTable t;
    for (int l = 1; l <= 16; ++l)
        t.bits[l] = static_cast<std::uint8_t>(bits[l]);
    for (int l = 1; l <= kMaxLength; ++l)
        for (int s = 0; s <= 255; ++s)
            if (codesize[s] == l)
                t.values.push_back(static_cast<std::uint8_t>(s));
    std::uint32_t code = 0;
    std::size_t p = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int n = 0; n < t.bits[l]; ++n, ++p) {
            t.code[t.values[p]] = code++;
            t.size[t.values[p]] = static_cast<std::uint8_t>(l);
        }
        code <<= 1;
    }
    return t;
}

double entropyBits(const std::array<long, 257> &freq, bool dc)
{
    double total = 0;
    for (int s = 0; s < 256; ++s)
        total += double(freq[s]);
    double bits = 0;
    for (int s = 0; s < 256; ++s) {
        if (freq[s] == 0)
            continue;
        const double f = double(freq[s]);
        bits += f * (std::log2(total / f) + (dc ? s : s & 15));
    }
    return bits;
}

QByteArray dhtBody(int index, const HuffTable &t)
{
    QByteArray body;
    body.append(static_cast<char>(index));
    for (int l = 1; l <= 16; ++l)
        body.append(static_cast<char>(t.bits[l]));
    for (const std::uint8_t v : t.values)
        body.append(static_cast<char>(v));
    return body;
}


} // namespace tovalin::detail
