#include "imaging/decode/heif_boxes.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace tovalin::detail {

namespace {

// Bytes read big-endian, never past the end: a read past it fails the
// reader, and every value it gives afterwards is 0.
class Bytes {
public:
    Bytes(const std::uint8_t *p, std::size_t size) : m_p(p), m_size(size) {}
    bool ok() const { return m_ok; }
    std::size_t left() const { return m_ok ? m_size - m_at : 0; }
    const std::uint8_t *here() const { return m_p + m_at; }
    std::uint64_t read(int bytes)
    {
        if (!m_ok || std::size_t(bytes) > m_size - m_at) {
            m_ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | m_p[m_at++];
        return v;
    }
    void skip(std::size_t bytes)
    {
        if (bytes > left())
            m_ok = false;
        else
            m_at += bytes;
    }

private:
    const std::uint8_t *m_p;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

// Bits read most significant first, with H.265's unsigned Exp-Golomb codes.
class Bits {
public:
    explicit Bits(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    bool ok() const { return m_ok; }
    std::uint32_t read(int bits)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < bits; ++i) {
            if (m_at >= m_bytes.size() * 8) {
                m_ok = false;
                return 0;
            }
            v = v << 1 | ((m_bytes[m_at / 8] >> (7 - m_at % 8)) & 1);
            ++m_at;
        }
        return v;
    }
    void skip(int bits)
    {
        for (; bits > 16; bits -= 16)
            read(16);
        read(bits);
    }
    std::uint32_t golomb()
    {
        int zeros = 0;
        while (m_ok && read(1) == 0)
            if (++zeros > 31)
                m_ok = false;
        return m_ok ? (std::uint32_t(1) << zeros) - 1 + read(zeros) : 0;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

struct Box {
    std::string_view type;
    Bytes body;
};

// The boxes laid one after another in `within`.
std::vector<Box> boxesIn(Bytes within)
{
    std::vector<Box> boxes;
    while (within.left() >= 8) {
        const std::uint8_t *start = within.here();
        std::uint64_t size = within.read(4);
        const std::string_view type(reinterpret_cast<const char *>(within.here()), 4);
        within.skip(4);
        std::size_t header = 8;
        if (size == 1) {
            size = within.read(8);
            header = 16;
        } else if (size == 0) {
            size = within.left() + 8;
        }
        if (!within.ok() || size < header || size - header > within.left())
            break;
        boxes.push_back({type, Bytes(start + header, std::size_t(size - header))});
        within.skip(std::size_t(size - header));
    }
    return boxes;
}

const Box *find(const std::vector<Box> &boxes, std::string_view type)
{
    for (const Box &b : boxes)
        if (b.type == type)
            return &b;
    return nullptr;
}

// H.265's NAL unit payload without its emulation-prevention bytes.
std::vector<std::uint8_t> unescaped(const std::uint8_t *p, std::size_t size)
{
    std::vector<std::uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && p[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = p[i] == 0 ? zeros + 1 : 0;
        out.push_back(p[i]);
    }
    return out;
}

// The picture size in an H.265 sequence parameter set (after its NAL header).
QSize spsSize(const std::uint8_t *p, std::size_t size)
{
    Bits b(unescaped(p, size));
    b.skip(4); // video parameter set
    const int subLayers = int(b.read(3));
    b.skip(1);
    b.skip(96); // general profile, tier and level
    bool profile[8] = {}, level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = b.read(1);
        level[i] = b.read(1);
    }
    if (subLayers > 0)
        b.skip(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i)
        b.skip((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    b.golomb(); // sequence parameter set id
    if (b.golomb() == 3)
        b.skip(1); // separate colour planes
    const std::uint32_t width = b.golomb();
    const std::uint32_t height = b.golomb();
    if (!b.ok() || width > INT32_MAX || height > INT32_MAX)
        return {};
    return QSize(int(width), int(height));
}

// The size in an hvcC box's sequence parameter sets.
QSize hevcSize(Bytes hvcc)
{
    hvcc.skip(22);
    const int arrays = int(hvcc.read(1));
    QSize largest;
    for (int a = 0; a < arrays && hvcc.ok(); ++a) {
        const int type = int(hvcc.read(1)) & 0x3F;
        const int units = int(hvcc.read(2));
        for (int u = 0; u < units && hvcc.ok(); ++u) {
            const std::size_t length = std::size_t(hvcc.read(2));
            if (length > hvcc.left())
                return {};
            if (type == 33 && length > 2) {
                const QSize s = spsSize(hvcc.here() + 2, length - 2);
                if (!s.isValid())
                    return {};
                largest = largest.expandedTo(s);
            }
            hvcc.skip(length);
        }
    }
    return largest;
}

// The maximum frame size in AV1 OBUs, from the first sequence header.
QSize av1Size(Bytes obus)
{
    while (obus.left() > 0) {
        const int header = int(obus.read(1));
        const int type = header >> 3 & 0xF;
        if (header & 4)
            obus.skip(1);
        std::size_t length = obus.left();
        if (header & 2) {
            length = 0;
            for (int i = 0; i < 8; ++i) {
                const int byte = int(obus.read(1));
                length |= std::size_t(byte & 0x7F) << (7 * i);
                if (!(byte & 0x80))
                    break;
            }
        }
        if (!obus.ok() || length > obus.left())
            return {};
        if (type != 1) {
            obus.skip(length);
            continue;
        }
        Bits b(std::vector<std::uint8_t>(obus.here(), obus.here() + length));
        b.skip(3); // profile
        b.skip(1); // still picture
        if (b.read(1)) { // reduced still-picture header
            b.skip(5);
        } else {
            int delayBits = 0;
            bool decoderModel = false;
            if (b.read(1)) { // timing info
                b.skip(64);
                if (b.read(1)) { // equal picture interval: uvlc
                    int zeros = 0;
                    while (b.ok() && b.read(1) == 0 && zeros < 32)
                        ++zeros;
                    b.skip(zeros);
                }
                decoderModel = b.read(1);
                if (decoderModel) {
                    delayBits = int(b.read(5)) + 1;
                    b.skip(32 + 5 + 5);
                }
            }
            const bool initialDelay = b.read(1);
            const int points = int(b.read(5)) + 1;
            for (int i = 0; i < points && b.ok(); ++i) {
                b.skip(12);
                if (b.read(5) > 7)
                    b.skip(1);
                if (decoderModel && b.read(1))
                    b.skip(2 * delayBits + 1);
                if (initialDelay && b.read(1))
                    b.skip(4);
            }
        }
        const int widthBits = int(b.read(4)) + 1;
        const int heightBits = int(b.read(4)) + 1;
        const std::uint32_t width = b.read(widthBits) + 1;
        const std::uint32_t height = b.read(heightBits) + 1;
        return b.ok() ? QSize(int(width), int(height)) : QSize();
    }
    return {};
}

struct Item {
    std::string_view type;
    std::vector<int> properties; // indices into ipco, from 1
    int constructionMethod = 0;
    std::uint64_t offset = 0; // of its first extent
    std::uint64_t length = 0;
    std::vector<std::uint32_t> derivedFrom; // 'dimg' references
};

class HeifFile {
public:
    HeifFile(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    HeifSizes sizes()
    {
        HeifSizes result;
        const std::vector<Box> top = boxesIn(Bytes(m_data, m_size));
        const Box *meta = find(top, "meta");
        if (!meta)
            return result;
        Bytes metaBody = meta->body;
        metaBody.skip(4);
        const std::vector<Box> boxes = boxesIn(metaBody);
        if (const Box *idat = find(boxes, "idat"))
            m_idat = idat->body;
        const Box *pitm = find(boxes, "pitm");
        if (!pitm || !readItems(boxes))
            return result;
        Bytes p = pitm->body;
        const int version = int(p.read(1));
        p.skip(3);
        const std::uint32_t primary = std::uint32_t(p.read(version == 0 ? 2 : 4));
        if (!p.ok() || !m_items.count(primary))
            return result;
        result.output = outputOf(primary, 0);
        result.largestCoded = largestCodedOf(primary, 0);
        const std::string_view type = m_items.at(primary).type;
        result.coded = type != "grid" && type != "iovl" && type != "iden";
        return result;
    }

private:
    bool readItems(const std::vector<Box> &boxes)
    {
        const Box *iinf = find(boxes, "iinf");
        const Box *iloc = find(boxes, "iloc");
        const Box *iprp = find(boxes, "iprp");
        if (!iinf || !iloc || !iprp)
            return false;
        // Item types.
        Bytes info = iinf->body;
        const int infoVersion = int(info.read(1));
        info.skip(3 + (infoVersion == 0 ? 2 : 4));
        for (const Box &infe : boxesIn(info)) {
            Bytes e = infe.body;
            const int v = int(e.read(1));
            e.skip(3);
            if (infe.type != "infe" || v < 2)
                continue;
            const auto id = std::uint32_t(e.read(v == 2 ? 2 : 4));
            e.skip(2);
            if (e.left() >= 4)
                m_items[id].type = std::string_view(reinterpret_cast<const char *>(e.here()), 4);
        }
        // Where each item's data lies.
        Bytes loc = iloc->body;
        const int locVersion = int(loc.read(1));
        loc.skip(3);
        const int sizes = int(loc.read(2));
        const int offsetSize = sizes >> 12, lengthSize = sizes >> 8 & 0xF, baseSize = sizes >> 4 & 0xF;
        const int indexSize = locVersion >= 1 ? sizes & 0xF : 0;
        const auto count = std::uint32_t(loc.read(locVersion < 2 ? 2 : 4));
        for (std::uint32_t i = 0; i < count && loc.ok(); ++i) {
            const auto id = std::uint32_t(loc.read(locVersion < 2 ? 2 : 4));
            const int method = locVersion >= 1 ? int(loc.read(2)) & 0xF : 0;
            loc.skip(2);
            const std::uint64_t base = loc.read(baseSize);
            const int extents = int(loc.read(2));
            for (int x = 0; x < extents && loc.ok(); ++x) {
                loc.skip(std::size_t(indexSize));
                const std::uint64_t offset = loc.read(offsetSize);
                const std::uint64_t length = loc.read(lengthSize);
                if (x == 0 && m_items.count(id)) {
                    m_items[id].constructionMethod = method;
                    m_items[id].offset = base + offset;
                    m_items[id].length = length;
                }
            }
        }
        // Derived pictures' sources.
        if (const Box *iref = find(boxes, "iref")) {
            Bytes r = iref->body;
            const int v = int(r.read(1));
            r.skip(3);
            // Read as libheif reads it: each reference's header, then its
            // fields in turn, whatever size the header declares (a size past
            // the box would otherwise hide references libheif follows).
            while (r.left() >= 8) {
                const std::uint64_t size = r.read(4);
                const std::string_view type(reinterpret_cast<const char *>(r.here()), 4);
                r.skip(size == 1 ? 12 : 4);
                const auto from = std::uint32_t(r.read(v == 0 ? 2 : 4));
                const int n = int(r.read(2));
                for (int k = 0; k < n && r.ok(); ++k) {
                    const auto to = std::uint32_t(r.read(v == 0 ? 2 : 4));
                    if (type == "dimg" && m_items.count(from))
                        m_items[from].derivedFrom.push_back(to);
                }
                if (!r.ok())
                    break;
            }
        }
        // Properties and which item has which.
        const std::vector<Box> properties = boxesIn(iprp->body);
        const Box *ipco = find(properties, "ipco");
        const Box *ipma = find(properties, "ipma");
        if (!ipco || !ipma)
            return false;
        m_properties = boxesIn(ipco->body);
        Bytes a = ipma->body;
        const int v = int(a.read(1));
        const int flags = int(a.read(3));
        const auto entries = std::uint32_t(a.read(4));
        for (std::uint32_t i = 0; i < entries && a.ok(); ++i) {
            const auto id = std::uint32_t(a.read(v < 1 ? 2 : 4));
            const int n = int(a.read(1));
            for (int k = 0; k < n && a.ok(); ++k) {
                const int index = (flags & 1) ? int(a.read(2)) & 0x7FFF : int(a.read(1)) & 0x7F;
                if (m_items.count(id))
                    m_items[id].properties.push_back(index);
            }
        }
        return loc.ok() && a.ok();
    }

    const Box *property(const Item &item, std::string_view type) const
    {
        for (int index : item.properties)
            if (index >= 1 && std::size_t(index) <= m_properties.size() && m_properties[std::size_t(index) - 1].type == type)
                return &m_properties[std::size_t(index) - 1];
        return nullptr;
    }

    std::optional<Bytes> dataOf(const Item &item) const
    {
        if (item.constructionMethod == 0) {
            if (item.offset > m_size || item.length > m_size - item.offset)
                return std::nullopt;
            return Bytes(m_data + item.offset, std::size_t(item.length ? item.length : m_size - item.offset));
        }
        return std::nullopt; // in idat: read by the caller that has it
    }

    // A coded picture's size, as its decoder will make it.
    QSize codedSize(const Item &item) const
    {
        if (item.type == "hvc1")
            if (const Box *hvcc = property(item, "hvcC"))
                return hevcSize(hvcc->body);
        if (item.type == "av01") {
            if (const Box *av1c = property(item, "av1C")) {
                Bytes config = av1c->body;
                config.skip(4);
                if (config.left() > 0)
                    return av1Size(config);
            }
            if (const std::optional<Bytes> data = dataOf(item))
                return av1Size(*data);
        }
        return {};
    }

    // A grid's or overlay's canvas size from its description.
    QSize canvasSize(const Item &item) const
    {
        std::optional<Bytes> data = dataOf(item);
        if (item.constructionMethod == 1 && m_idat)
            data = item.offset <= m_idat->left() ? std::optional<Bytes>(Bytes(m_idat->here() + item.offset, m_idat->left() - std::size_t(item.offset)))
                                                  : std::nullopt;
        if (!data)
            return {};
        data->skip(1);
        const int flags = int(data->read(1));
        data->skip(item.type == "grid" ? 2 : 8);
        const int field = (flags & 1) ? 4 : 2;
        const std::uint64_t width = data->read(field), height = data->read(field);
        if (!data->ok() || width > INT32_MAX || height > INT32_MAX)
            return {};
        return QSize(int(width), int(height));
    }

    QSize outputOf(std::uint32_t id, int depth) const
    {
        const auto found = m_items.find(id);
        if (found == m_items.end() || depth > 4)
            return {};
        const Item &item = found->second;
        if (item.type == "grid" || item.type == "iovl")
            return canvasSize(item);
        if (item.type == "iden")
            return item.derivedFrom.empty() ? QSize() : outputOf(item.derivedFrom.front(), depth + 1);
        return codedSize(item);
    }

    // The largest picture made on the way to this one: its own, and every
    // source's, a derived source's canvas included.
    QSize largestCodedOf(std::uint32_t id, int depth) const
    {
        const auto found = m_items.find(id);
        if (found == m_items.end() || depth > 4)
            return {};
        const Item &item = found->second;
        // A derived picture's canvas is made whether or not anything is
        // drawn on it: an overlay without inputs still counts.
        const bool derived = item.type == "grid" || item.type == "iovl" || item.type == "iden";
        if (!derived)
            return codedSize(item);
        QSize largest = depth > 0 ? outputOf(id, depth) : QSize();
        for (std::uint32_t source : item.derivedFrom)
            largest = largest.expandedTo(largestCodedOf(source, depth + 1));
        return largest;
    }

    const std::uint8_t *m_data;
    std::size_t m_size;
    std::map<std::uint32_t, Item> m_items;
    std::vector<Box> m_properties;
    std::optional<Bytes> m_idat;
};

} // namespace

HeifSizes readHeifSizes(const std::uint8_t *data, std::size_t size)
{
    HeifFile file(data, size);
    return file.sizes();
}

} // namespace tovalin::detail
