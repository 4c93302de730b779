// The process-wide pool behind reuseConnections: idle easy handles that keep
// their open connections, and one share object for TLS sessions and DNS.
#pragma once

#include <curl/curl.h>

#include <array>
#include <mutex>
#include <vector>

namespace Tarnwell {

class ConnectionPool {
public:
    // Made on first use; released when the library is unloaded or the
    // process exits. It starts no threads.
    static ConnectionPool& instance();

    // An idle handle (the one used last, whose connections are the most
    // likely to be alive) or a new one; nullptr when libcurl cannot make one.
    CURL* acquire();
    // Clears the handle's options and keeps it, with its open connections,
    // for the next call. Handles beyond MAX_IDLE_HANDLES are cleaned up.
    void release(CURL* handle) noexcept;

    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // More idle handles than this are only kept when as many calls ran at
    // once; each keeps libcurl's own limits on idle connections.
    static constexpr std::size_t MAX_IDLE_HANDLES = 16;

private:
    ConnectionPool();
    static void lockShared(CURL* handle, curl_lock_data data, curl_lock_access access, void* pool);
    static void unlockShared(CURL* handle, curl_lock_data data, void* pool);

    std::mutex idleMutex_;
    std::vector<CURL*> idle_;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks_;
    CURLSH* share_ = nullptr;
};

}  // namespace Tarnwell
