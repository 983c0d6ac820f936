#pragma once
#include "imaging/jpeg.h"

#include <QImage>
#include <cstdint>
#include <future>
#include <map>
#include <optional>

namespace tovalin {

// The encodings of one image, each factor encoded once: the same image at
// the same factor always gives the same bytes. Encodings can be started
// ahead of need on another core; asking for one waits for it.
class EncodingCache {
public:
    explicit EncodingCache(const QImage &image) : m_image(image) {}
    ~EncodingCache(); // waits for encodings still running

    EncodingCache(const EncodingCache &) = delete;
    EncodingCache &operator=(const EncodingCache &) = delete;

    void start(int factor);
    const EncodeResult &at(int factor);
    // The size of a finished encoding, without waiting.
    std::optional<std::int64_t> sizeIfDone(int factor) const;
    // Nearest finished encodings below and above a factor, if any.
    std::optional<std::pair<int, std::int64_t>> nearestDone(int factor, bool above) const;

private:
    const QImage &m_image;
    std::map<int, std::shared_future<EncodeResult>> m_jobs;
};

} // namespace tovalin
