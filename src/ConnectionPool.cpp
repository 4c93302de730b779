// The process-wide pool of easy handles and the share object they use.
//
// Connections live in the easy handles rather than in the share object:
// libcurl 7.88 documents a shared connection cache as unsafe when handles
// on several threads use it at once. TLS sessions and DNS answers are safe
// to share under the locks below, so a new connection to a known host
// still skips the full handshake and the lookup.
#include "ConnectionPool.h"

namespace Tarnwell {

ConnectionPool& ConnectionPool::instance() {
    static ConnectionPool pool;
    return pool;
}

ConnectionPool::ConnectionPool() {
    idle_.reserve(MAX_IDLE_HANDLES);
    // Balanced by curl_global_cleanup in the destructor, so libcurl's
    // global state outlives every handle of the pool.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    if (share_ == nullptr) return;  // handles then work unshared
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, lockShared);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, unlockShared);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

ConnectionPool::~ConnectionPool() {
    for (CURL* handle : idle_) curl_easy_cleanup(handle);
    idle_.clear();
    if (share_ != nullptr) curl_share_cleanup(share_);
    curl_global_cleanup();
}

void ConnectionPool::lockShared(CURL*, curl_lock_data data, curl_lock_access, void* pool) {
    static_cast<ConnectionPool*>(pool)->shareLocks_[static_cast<std::size_t>(data)].lock();
}

void ConnectionPool::unlockShared(CURL*, curl_lock_data data, void* pool) {
    static_cast<ConnectionPool*>(pool)->shareLocks_[static_cast<std::size_t>(data)].unlock();
}

CURL* ConnectionPool::acquire() {
    {
        const std::lock_guard<std::mutex> lock(idleMutex_);
        if (!idle_.empty()) {
            CURL* handle = idle_.back();
            idle_.pop_back();
            return handle;
        }
    }
    CURL* handle = curl_easy_init();
    if (handle != nullptr && share_ != nullptr) curl_easy_setopt(handle, CURLOPT_SHARE, share_);
    return handle;
}

void ConnectionPool::release(CURL* handle) noexcept {
    if (handle == nullptr) return;
    // Keeps the connections, the share and libcurl's caches; drops every
    // option, credentials included.
    curl_easy_reset(handle);
    {
        const std::lock_guard<std::mutex> lock(idleMutex_);
        if (idle_.size() < MAX_IDLE_HANDLES) {
            idle_.push_back(handle);  // within the reserved capacity: cannot throw
            return;
        }
    }
    curl_easy_cleanup(handle);
}

}  // namespace Tarnwell
