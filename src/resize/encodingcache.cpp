#include "resize/encodingcache.h"

#include <chrono>

namespace tovalin {

EncodingCache::~EncodingCache()
{
    for (auto &[factor, job] : m_jobs)
        job.wait();
}

void EncodingCache::start(int factor)
{
    if (m_jobs.count(factor) == 0)
        m_jobs.emplace(factor, std::async(std::launch::async, encodeJpeg, std::cref(m_image), factor).share());
}

const EncodeResult &EncodingCache::at(int factor)
{
    start(factor);
    return m_jobs.at(factor).get();
}

std::optional<std::int64_t> EncodingCache::sizeIfDone(int factor) const
{
    const auto it = m_jobs.find(factor);
    if (it == m_jobs.end() || it->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready
        || !it->second.get().error.isEmpty())
        return std::nullopt;
    return it->second.get().bytes.size();
}

std::optional<std::pair<int, std::int64_t>> EncodingCache::nearestDone(int factor, bool above) const
{
    std::optional<std::pair<int, std::int64_t>> best;
    for (const auto &[f, job] : m_jobs) {
        if (above ? f <= factor : f >= factor)
            continue;
        const std::optional<std::int64_t> size = sizeIfDone(f);
        if (size && (!best || (above ? f < best->first : f > best->first)))
            best = std::pair{f, *size};
    }
    return best;
}

} // namespace tovalin
