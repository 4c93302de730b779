// Request bodies read from files and response bodies written to files, with
// the few calls that differ between POSIX and Windows kept at the top.
#include "BodyFiles.h"

#include "Messages.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <utility>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace BodyFiles {

namespace {

enum class Kind { Missing, Regular, Other };

#if defined(_WIN32)

// Names in the request JSON are UTF-8, and Windows takes them as UTF-16
// (the narrow calls would read them in the ANSI code page). Empty when the
// name is empty or not valid UTF-8.
std::wstring nativeName(const std::string& name) {
    if (name.empty() || name.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(name.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), size, &wide[0], length) != length) return {};
    return wide;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

Kind kindOf(const std::string& name) {
    const std::wstring wide = nativeName(name);
    struct _stat64 info {};
    if (wide.empty() || _wstat64(wide.c_str(), &info) != 0) return Kind::Missing;
    return (info.st_mode & _S_IFMT) == _S_IFREG ? Kind::Regular : Kind::Other;
}

FilePtr openRegularForReading(const std::string& name, std::uint64_t& size) {
    if (kindOf(name) != Kind::Regular) return nullptr;
    const int fd = _wopen(nativeName(name).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return nullptr;
    struct _stat64 info {};
    FilePtr file(_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG ? _fdopen(fd, "rb") : nullptr);
    if (!file) {
        _close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(LLONG_MAX) &&
           _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}

// A file that did not exist before; taken is set when the name was in use.
FilePtr createNew(const std::string& name, bool& taken) {
    const std::wstring wide = nativeName(name);
    const int fd = wide.empty() ? -1
                                : _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                         _S_IREAD | _S_IWRITE);
    taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return nullptr;
    FilePtr file(_fdopen(fd, "wb"));
    if (!file) {
        _close(fd);
        _wremove(wide.c_str());
    }
    return file;
}

// std::rename fails on Windows when the target exists.
bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExW(nativeName(from).c_str(), nativeName(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void removeFile(const std::string& name) {
    _wremove(nativeName(name).c_str());
}

#else

bool isSeparator(char c) {
    return c == '/';
}

Kind kindOf(const std::string& name) {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) return Kind::Missing;
    return S_ISREG(info.st_mode) ? Kind::Regular : Kind::Other;
}

// Opened without waiting (a FIFO would wait for a writer) and checked on
// the open descriptor, so nothing can be swapped in between.
FilePtr openRegularForReading(const std::string& name, std::uint64_t& size) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    FilePtr file(fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, "rb") : nullptr);
    if (!file) {
        close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
    const auto position = static_cast<off_t>(offset);
    return position >= 0 && static_cast<std::uint64_t>(position) == offset && fseeko(file, position, SEEK_SET) == 0;
}

// A file that did not exist before; taken is set when the name was in use.
// Its mode is that of any new file (0666 less the umask), as curl -o makes.
FilePtr createNew(const std::string& name, bool& taken) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return nullptr;
    FilePtr file(fdopen(fd, "wb"));
    if (!file) {
        close(fd);
        std::remove(name.c_str());
    }
    return file;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void removeFile(const std::string& name) {
    std::remove(name.c_str());
}

#endif

// Names already in use are skipped; a folder where nothing can be created
// fails at once, so this bound is reached only by a folder full of them.
constexpr unsigned MAX_NAME_ATTEMPTS = 100;

// ".<8 hex digits>.part", different for every call in the process and
// unlikely to meet another process's; creation itself refuses a name in use.
std::string temporarySuffix() {
    static std::atomic<unsigned long long> calls{0};
    const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long mixed = (ticks ^ (++calls * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(mixed >> 32));
    return suffix;
}

}  // namespace

FileSource::FileSource(const std::string& path) {
    file_ = openRegularForReading(path, size_);
    if (!file_) throw std::invalid_argument(Messages::BODY_FILE_UNREADABLE);
}

std::size_t FileSource::read(char* buffer, std::size_t capacity) {
    const std::uint64_t left = size_ - position_;
    const std::size_t wanted = left < capacity ? static_cast<std::size_t>(left) : capacity;
    if (wanted == 0) return 0;
    const std::size_t got = std::fread(buffer, 1, wanted, file_.get());
    // The file shrank or cannot be read: the announced length can no
    // longer be kept, and the server would wait for the rest for ever.
    if (got == 0) return READ_FAILED;
    position_ += got;
    return got;
}

bool FileSource::seek(std::uint64_t offset) {
    if (offset > size_ || !seekTo(file_.get(), offset)) return false;
    position_ = offset;
    return true;
}

FileSink::FileSink(const std::string& path) : path_(path) {
    if (path.empty() || isSeparator(path.back()) || kindOf(path) == Kind::Other) {
        throw std::invalid_argument(Messages::OUTPUT_FILE_UNWRITABLE);
    }
    for (unsigned attempt = 0; attempt < MAX_NAME_ATTEMPTS && !file_; ++attempt) {
        std::string candidate = path + temporarySuffix();
        bool taken = false;
        file_ = createNew(candidate, taken);
        if (file_) {
            temporary_ = std::move(candidate);
        } else if (!taken) {
            break;
        }
    }
    if (!file_) throw std::invalid_argument(Messages::OUTPUT_FILE_UNWRITABLE);
}

FileSink::~FileSink() {
    file_.reset();
    if (!temporary_.empty()) removeFile(temporary_);
}

bool FileSink::write(const char* bytes, std::size_t length) {
    return std::fwrite(bytes, 1, length, file_.get()) == length;
}

void FileSink::commit() {
    // fclose writes what stdio still holds; its failure is a write failure.
    const bool closed = file_ && std::fclose(file_.release()) == 0;
    if (!closed || !replaceFile(temporary_, path_)) throw std::runtime_error(Messages::OUTPUT_FILE_NOT_WRITTEN);
    temporary_.clear();
}

}  // namespace BodyFiles
