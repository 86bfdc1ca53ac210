// Media-session tables (preview, playback, talk): fixed-size records copied in whole, keyed by
// session, bounded and aged on the given clock so records no push order took cannot pile up.
#ifndef VEXA_SESSION_TABLES_H
#define VEXA_SESSION_TABLES_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"

class SessionTables {
public:
    static constexpr size_t kPreviewRecordSize = 664;
    static constexpr size_t kPlaybackRecordSize = 1320;
    static constexpr size_t kTalkRecordSize = 648;
    static constexpr size_t kMaxSessions = 10000;
    static constexpr uint64_t kSessionMaxAgeMs = 300000;

    enum Kind { kPreview, kPlayback, kTalk };

    explicit SessionTables(const vexa::Clock* clock = &vexa::steadyClock()) { setClock(clock); }
    void setClock(const vexa::Clock* clock) { m_clock = clock ? clock : &vexa::steadyClock(); }

    // 1 when stored; 0 (logged) for a null record, a key already present or a full table.
    int add(Kind kind, const void* record, const std::string& key);
    // 1 when found (copied out and removed); 0 (logged) otherwise.
    int take(Kind kind, void* out, const std::string& key);
    // Records waiting for their push order.
    size_t size(Kind kind);
    void clear();

private:
    struct Table {
        struct Entry {
            std::vector<unsigned char> record;
            uint64_t addedMs;
        };
        std::mutex lock;
        std::map<std::string, Entry> map;
        uint64_t lastPurgeMs = 0;
    };
    static constexpr uint64_t kPurgeEveryMs = 1000;

    std::atomic<const vexa::Clock*> m_clock{nullptr};
    Table m_tables[3];
};

#endif
