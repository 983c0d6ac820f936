#pragma once
#include <QByteArray>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

// The trial encoder's entropy coding: libjpeg's optimal Huffman tables from
// symbol counts, and the bit writer of the scan.
namespace tovalin::detail {

inline int bitCount(std::uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }

struct Counts {
    std::array<std::array<long, 257>, 2> dc{};
    std::array<std::array<long, 257>, 2> ac{};
};

struct HuffTable {
    std::array<std::uint8_t, 17> bits{}; // bits[k]: codes of length k
    std::vector<std::uint8_t> values;
    std::array<std::uint32_t, 256> code{};
    std::array<std::uint8_t, 256> size{};
};

// libjpeg's jpeg_gen_optimal_table, then its code assignment.
HuffTable optimalTable(std::array<long, 257> freq);

// Bits of a histogram's symbols and their values at its entropy, which an
// optimal code comes within a few per cent of.
double entropyBits(const std::array<long, 257> &freq, bool dc);

// A DHT marker's body for table `index` (class << 4 | number).
QByteArray dhtBody(int index, const HuffTable &t);

// Huffman codes into bytes through a 64-bit buffer, a zero stuffed after
// every 0xFF byte.
class BitWriter {
public:
    // Appends to `out`, whose capacity should already hold the scan.
    explicit BitWriter(QByteArray &out) : m_out(out), m_used(std::size_t(out.size()))
    {
        m_out.resize(std::max<qsizetype>(out.capacity(), out.size() + 4096));
        m_data = m_out.data();
    }
    // Room for one more block at worst (every coefficient coded in 27 bits,
    // every byte stuffed).
    void reserveBlock()
    {
        if (std::size_t(m_out.size()) - m_used < 512) {
            m_out.resize(m_out.size() * 2);
            m_data = m_out.data();
        }
    }
    // `bits` holds exactly `count` (at most 32) bits.
    void put(std::uint64_t bits, int count)
    {
        m_free -= count;
        if (m_free >= 0) {
            m_buffer = (m_buffer << count) | bits;
            return;
        }
        // Fill the buffer, write it, keep the rest of `bits` (the higher,
        // already written ones are shifted out later).
        m_buffer = (m_buffer << (count + m_free)) | (bits >> -m_free);
        write(m_buffer);
        m_free += 64;
        m_buffer = bits;
    }
    // Pads the last byte with ones and ends the array at the last byte.
    void finish()
    {
        int used = 64 - m_free;
        if (used % 8) {
            const int pad = 8 - used % 8;
            put((1u << pad) - 1, pad);
            used = 64 - m_free;
        }
        for (int shift = used - 8; shift >= 0; shift -= 8)
            writeByte(static_cast<std::uint8_t>(m_buffer >> shift));
        m_out.resize(qsizetype(m_used));
    }

private:
    void write(std::uint64_t word)
    {
        for (int shift = 56; shift >= 0; shift -= 8)
            writeByte(static_cast<std::uint8_t>(word >> shift));
    }
    void writeByte(std::uint8_t byte)
    {
        m_data[m_used++] = static_cast<char>(byte);
        if (byte == 0xFF)
            m_data[m_used++] = 0;
    }

    QByteArray &m_out;
    char *m_data; // m_out's, after each resize
    std::size_t m_used;
    std::uint64_t m_buffer = 0;
    int m_free = 64;
};

} // namespace tovalin::detail
