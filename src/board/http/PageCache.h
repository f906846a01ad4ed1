#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace velmora::board {

// Pages as drawn at a version of the board, kept while that version holds: most readers of the
// board page come between two posts and get the copy, at the cost of one read of the version.
class PageCache {
public:
    explicit PageCache(std::size_t capacity) : m_capacity(capacity) {}

    std::shared_ptr<const std::string> find(const std::string& key, std::int64_t version) const
    {
        const std::lock_guard lock(m_lock);
        const auto found = m_pages.find(key);
        if (found == m_pages.end() || found->second.version != version)
            return nullptr;
        return found->second.body;
    }

    void keep(const std::string& key, std::int64_t version, std::string body)
    {
        auto shared = std::make_shared<const std::string>(std::move(body));
        const std::lock_guard lock(m_lock);
        auto found = m_pages.find(key);
        if (found != m_pages.end()) {
            // A slower reader may finish drawing an older version after a newer one was kept.
            if (found->second.version <= version)
                found->second = {version, std::move(shared)};
            return;
        }
        // Addresses come from anyone (any ?before=): past the capacity the copy of the oldest
        // version goes, so the pages of the present stay.
        if (m_pages.size() >= m_capacity && !m_pages.empty()) {
            auto oldest = m_pages.begin();
            for (auto page = m_pages.begin(); page != m_pages.end(); ++page)
                if (page->second.version < oldest->second.version)
                    oldest = page;
            m_pages.erase(oldest);
        }
        m_pages.emplace(key, Page{version, std::move(shared)});
    }

private:
    struct Page {
        std::int64_t version = 0;
        std::shared_ptr<const std::string> body;
    };
    mutable std::mutex m_lock;
    std::map<std::string, Page> m_pages;
    const std::size_t m_capacity;
};

}  // namespace velmora::board
