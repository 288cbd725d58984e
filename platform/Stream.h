#pragma once
// Byte streams for transfers and listings: an abstract TStream with 64-bit positions, a
// memory stream and a file stream opened by engine path. Failures raise EStreamError,
// whose message says what failed and names the engine path (never a native one), so
// that the engine can put it into a reply.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace nubo {

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TSeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to Count bytes at the position; fewer at the end. Returns the count read.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes at the position; returns the count written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    // Moves the position (beyond the end is allowed) and returns it.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size() const = 0;
    int64_t Position() { return Seek(0, TSeekOrigin::Current); }

    // All or nothing: a short read or write raises "Stream read error" or "Stream write error".
    void ReadBuffer(void* buffer, size_t count);
    void WriteBuffer(const void* buffer, size_t count);
};

class TMemoryStream : public TStream {
public:
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() const override { return int64_t(data_.size()); }

    const char* Memory() const { return data_.data(); }
    void Clear();

private:
    std::vector<char> data_;
    int64_t pos_ = 0;
};

enum class TFileMode {
    Read,          // read; others may read and write
    ReadDenyWrite, // read; others may read, not write
    Create,        // created anew or truncated, read and write; no other opener
    Replace,       // as Create, but an existing file keeps its content until the first
                   // write or Truncate(): an upload that never starts loses nothing
    Write,         // an existing file, for writing; others may read, not write
    Append,        // an existing file, read and write, positioned at its end; others may
                   // read, not write
};

// A file that a TFileStream of this process writes (an upload in progress): removing or
// renaming it is refused, as the system refuses it for an open file elsewhere.
bool FileBeingWritten(const std::string& path);

// A regular file opened by engine path. Symbolic links are followed; a dangling link is
// a missing file and is never created through. The sharing rules hold between the file
// streams of this process.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& path, TFileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() const override;

    const std::string& FileName() const { return path_; }
    // Replace mode: ends the old content at the position now, once; otherwise nothing.
    void Truncate();
    // The native descriptor, for zero-copy sends; owned by the stream.
    int Handle() const { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
    TFileMode mode_;
    int64_t pos_ = 0;
    uint64_t dev_ = 0, ino_ = 0;
    bool keepsOldContent_ = false;
};

} // namespace nubo
