// The calculation server's cache of recently received parameter texts, shared by every client
// connection, so that the next piece of the same fractal can be asked for by checksum alone.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "GenClasses.h"

class TNetworkServerCache : public TMultiThreadedObject {
public:
    static constexpr int MaxEntries = 32;
    static constexpr std::size_t MaxTotalSize = 4194304;

    TNetworkServerCache() = default;
    DECLARE_CLASS_NAME(TNetworkServerCache)

    // Stores Text under Crc, most recently used first, dropping the least recently used texts
    // beyond 32 entries or 4 MiB. The checksum and length are recomputed from the text: a text
    // that does not match Crc is refused (false) and stored nowhere, so a wrong checksum can
    // never hand one client's fractal to another.
    bool Add(std::uint32_t Crc, const std::string &Text);
    // The text with that checksum and exactly that length, moved to the front; false when none.
    bool Find(std::uint32_t Crc, std::uint32_t Length, std::string &Text);

    int GetCount();
    std::size_t GetTotalSize();
    void Clear();

private:
    struct TEntry {
        std::uint32_t Crc;
        std::string Text;
    };
    std::list<TEntry> FEntries;
    std::size_t FTotalSize = 0;
};

// The CRC-32 of a text's bytes.
std::uint32_t TextCrc32(const std::string &Text);

// The process's one cache, made on first use (safe when several connections ask at once) and
// freed by FinalizeNetCache at the end of the program.
TNetworkServerCache &NetworkServerCache();
void FinalizeNetCache();
