// The process-wide pool behind reuseConnections: idle easy handles that keep
// their open connections, and the share objects for TLS sessions and DNS.
#pragma once

#include <curl/curl.h>

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tarnwell {

class ConnectionPool {
public:
    // What tells one version of a file from the next (all zero when there
    // is none), and what kind of file it is.
    struct FileIdentity {
        std::array<long long, 7> fields{};
        bool exists = false;
        bool regular = false;
        bool operator==(const FileIdentity& other) const { return fields == other.fields; }
        bool operator!=(const FileIdentity& other) const { return fields != other.fields; }
    };
    // One stat of path ("" is no file).
    static FileIdentity identify(const std::string& path);

    // Made on first use and never destroyed, so that a call still running
    // on another thread while the process exits never meets a freed pool.
    // At exit or unload only what no call uses is released (see close()),
    // which is everything when no call runs. It starts no threads.
    static ConnectionPool& instance();

    // An idle handle (the one used last, whose connections are the most
    // likely to be alive) or a new one; nullptr when libcurl cannot make one.
    // caFile is the CA bundle the call trusts ("" for none) and identity
    // what identify() saw of it: TLS sessions are resumed only among calls
    // that saw the same file, unchanged.
    CURL* acquire(const std::string& caFile, const FileIdentity& identity);
    // Clears the handle's options and keeps it, with its open connections,
    // for the next call. Handles beyond MAX_IDLE_HANDLES are cleaned up.
    void release(CURL* handle) noexcept;
    // Cleans up the idle handles and every share no handle uses; handles
    // in use are cleaned up when they come back. Later calls get handles of
    // their own that are not kept.
    void close() noexcept;

    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // More idle handles than this are only kept when as many calls ran at
    // once; each keeps libcurl's own limits on idle connections.
    static constexpr std::size_t MAX_IDLE_HANDLES = 16;

private:
    // One share object: the TLS sessions and DNS answers of the handles
    // attached to it, and the CA bundles their sessions were verified with.
    struct SharedCaches {
        CURLSH* share = nullptr;
        std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
        std::size_t handles = 0;
        bool retired = false;
        std::map<std::string, FileIdentity, std::less<>> trustedFiles;  // CA file -> its identity
    };

    ConnectionPool() { idle_.reserve(MAX_IDLE_HANDLES); }
    ~ConnectionPool() = default;
    static void lockShared(CURL* handle, curl_lock_data data, curl_lock_access access, void* caches);
    static void unlockShared(CURL* handle, curl_lock_data data, void* caches);

    // These run with mutex_ held.
    SharedCaches* currentCaches(const std::string& caFile, const FileIdentity& identity);
    bool attach(CURL* handle, SharedCaches* caches);
    void detach(CURL* handle) noexcept;
    void cleanUp(CURL* handle) noexcept;

    std::mutex mutex_;
    bool closed_ = false;
    std::vector<CURL*> idle_;
    std::unordered_map<CURL*, SharedCaches*> attached_;  // every handle the pool made
    SharedCaches* current_ = nullptr;
};

}  // namespace Tarnwell
