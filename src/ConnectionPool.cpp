// The process-wide pool of easy handles and the share objects they use.
//
// Connections live in the easy handles rather than in a share object:
// libcurl 7.88 documents a shared connection cache as unsafe when handles
// on several threads use it at once. TLS sessions and DNS answers are safe
// to share under the locks below, so a new connection to a known host
// still skips the full handshake and the lookup.
//
// A resumed TLS session skips the check of the server's certificate, so a
// session must never outlive the trust it was verified with. libcurl tells
// sessions apart by the CA file's name only; when a file's contents change,
// the share that holds sessions verified with it is retired, and every
// handle moves to a fresh one.
#include "ConnectionPool.h"

#include <memory>
#include <new>
#include <string>

#include <sys/stat.h>

namespace Tarnwell {

namespace {

// Balances the pool's lifetime against the library's: at process exit or
// unload it releases what no running call uses, and nothing more.
struct PoolTeardown {
    ~PoolTeardown() { ConnectionPool::instance().close(); }
};

}  // namespace

ConnectionPool::FileIdentity ConnectionPool::identify(const std::string& path) {
    FileIdentity identity;
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) return identity;
    identity.exists = true;
    identity.regular = S_ISREG(info.st_mode);
    identity.fields = {static_cast<long long>(info.st_dev),   static_cast<long long>(info.st_ino),
                       static_cast<long long>(info.st_size),  static_cast<long long>(info.st_mtime),
                       static_cast<long long>(info.st_ctime), 0, 0};
#if !defined(_WIN32)
    // A file rewritten within the same second, at the same size.
    identity.fields[5] = info.st_mtim.tv_nsec;
    identity.fields[6] = info.st_ctim.tv_nsec;
#endif
    return identity;
}

ConnectionPool& ConnectionPool::instance() {
    // In static storage that no destructor touches, so that it outlives
    // every call; close() releases what it holds on the heap.
    alignas(ConnectionPool) static unsigned char storage[sizeof(ConnectionPool)];
    static ConnectionPool* const pool = [] {
        // libcurl's global state is set up once here and left to the
        // process's end: a call without the pool may still be running.
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return new (storage) ConnectionPool();
    }();
    static PoolTeardown teardown;
    return *pool;
}

void ConnectionPool::lockShared(CURL*, curl_lock_data data, curl_lock_access, void* caches) {
    static_cast<SharedCaches*>(caches)->locks[static_cast<std::size_t>(data)].lock();
}

void ConnectionPool::unlockShared(CURL*, curl_lock_data data, void* caches) {
    static_cast<SharedCaches*>(caches)->locks[static_cast<std::size_t>(data)].unlock();
}

ConnectionPool::SharedCaches* ConnectionPool::currentCaches(const std::string& caFile, const FileIdentity& identity) {
    if (current_ != nullptr && !caFile.empty()) {
        const auto seen = current_->trustedFiles.find(caFile);
        if (seen != current_->trustedFiles.end() && seen->second != identity) {
            current_->retired = true;
            if (current_->handles == 0) {
                curl_share_cleanup(current_->share);
                delete current_;
            }
            current_ = nullptr;
        }
    }
    if (current_ == nullptr) {
        auto caches = std::make_unique<SharedCaches>();
        caches->share = curl_share_init();
        if (caches->share == nullptr) throw std::bad_alloc();
        const CURLSHcode results[] = {
            curl_share_setopt(caches->share, CURLSHOPT_LOCKFUNC, lockShared),
            curl_share_setopt(caches->share, CURLSHOPT_UNLOCKFUNC, unlockShared),
            curl_share_setopt(caches->share, CURLSHOPT_USERDATA, caches.get()),
            curl_share_setopt(caches->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION),
            curl_share_setopt(caches->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS),
        };
        for (const CURLSHcode result : results) {
            if (result != CURLSHE_OK) {
                curl_share_cleanup(caches->share);
                throw std::bad_alloc();
            }
        }
        current_ = caches.release();
    }
    if (!caFile.empty() && current_->trustedFiles.count(caFile) == 0) current_->trustedFiles.emplace(caFile, identity);
    return current_;
}

bool ConnectionPool::attach(CURL* handle, SharedCaches* caches) {
    auto& owner = attached_[handle];
    if (owner == caches) return true;
    if (curl_easy_setopt(handle, CURLOPT_SHARE, caches->share) != CURLE_OK) {
        attached_.erase(handle);
        return false;
    }
    if (owner != nullptr) detach(handle);
    attached_[handle] = caches;
    ++caches->handles;
    return true;
}

// Called when the handle has left owner's share (or is about to be cleaned
// up); frees a retired share that no handle uses any more.
void ConnectionPool::detach(CURL* handle) noexcept {
    const auto found = attached_.find(handle);
    if (found == attached_.end() || found->second == nullptr) return;
    SharedCaches* caches = found->second;
    found->second = nullptr;
    if (--caches->handles == 0 && (caches->retired || closed_)) {
        if (caches == current_) current_ = nullptr;
        curl_share_cleanup(caches->share);
        delete caches;
    }
}

void ConnectionPool::cleanUp(CURL* handle) noexcept {
    curl_easy_cleanup(handle);  // leaves the share first
    detach(handle);
    attached_.erase(handle);
}

CURL* ConnectionPool::acquire(const std::string& caFile, const FileIdentity& identity) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return curl_easy_init();
    SharedCaches* caches = currentCaches(caFile, identity);
    CURL* handle = nullptr;
    if (!idle_.empty()) {
        handle = idle_.back();
        idle_.pop_back();
    } else {
        handle = curl_easy_init();
        if (handle == nullptr) return nullptr;
    }
    if (!attach(handle, caches)) {
        curl_easy_cleanup(handle);
        return nullptr;
    }
    return handle;
}

void ConnectionPool::release(CURL* handle) noexcept {
    if (handle == nullptr) return;
    // Keeps the connections, the share and libcurl's caches; drops every
    // option, credentials included.
    curl_easy_reset(handle);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (attached_.count(handle) == 0) {
        curl_easy_cleanup(handle);  // made after close()
        return;
    }
    if (closed_ || idle_.size() >= MAX_IDLE_HANDLES) {
        cleanUp(handle);
        return;
    }
    idle_.push_back(handle);  // within the reserved capacity: cannot throw
}

void ConnectionPool::close() noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (CURL* handle : idle_) cleanUp(handle);
    std::vector<CURL*>().swap(idle_);
    if (current_ != nullptr && current_->handles == 0) {
        curl_share_cleanup(current_->share);
        delete current_;
        current_ = nullptr;
    }
    // Handles still in use keep their entries until they come back.
    if (attached_.empty()) std::unordered_map<CURL*, SharedCaches*>().swap(attached_);
}

}  // namespace Tarnwell
