// Bodies in files: a request body read from one as it is sent (bodyFile),
// and a response body written to one as it arrives (outputFile).
#pragma once

#include "Tarnwell.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace BodyFiles {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A request body read from a regular file, from the start again whenever
// libcurl rewinds. Its length is the file's size when it was opened and no
// byte past it is read, so a file that grows meanwhile cannot break the
// framing; one that shrinks ends the transfer.
class FileSource final : public BodySource {
public:
    // Throws std::invalid_argument "Request option bodyFile must name a
    // readable file." unless path is a regular file that opens for reading.
    // Nothing else is opened, so a FIFO cannot block the call.
    explicit FileSource(const std::string& path);
    std::uint64_t size() const override { return size_; }
    std::size_t read(char* buffer, std::size_t capacity) override;
    bool seek(std::uint64_t offset) override;

private:
    FilePtr file_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// The final response's body, written to a new temporary file in path's
// folder while it arrives. Only commit() puts it in path's place; until
// then, and when commit() fails, whatever is at path stays untouched and
// the destructor removes the temporary file.
class FileSink final : public BodySink {
public:
    // Creates the temporary file. Throws std::invalid_argument "Request
    // option outputFile must name a regular file in a writable folder." when
    // path names something else that exists, or nothing can be created there.
    explicit FileSink(const std::string& path);
    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    void start(curl_off_t) override {}
    bool write(const char* bytes, std::size_t length) override;
    // Closes the temporary file and renames it over path. Throws
    // std::runtime_error "The response body could not be written to
    // outputFile." when either fails.
    void commit();

private:
    std::string path_;
    std::string temporary_;  // "" once renamed
    FilePtr file_;
};

}  // namespace BodyFiles
