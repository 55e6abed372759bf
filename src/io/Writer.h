#pragma once
// Where the engine writes a patched image or a new patch: a file that takes
// its target's place only once complete (files/FileReplacement.h), or memory.
// A writer that failed stays failed, and says why.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnic {

class Writer {
  public:
    virtual ~Writer() = default;

    // Writes at `offset`, which may lie past the end: the gap reads as zeros.
    // False when any byte could not be written.
    virtual bool writeAt(std::int64_t offset, const char *data, std::int64_t size) = 0;
    // Reads back `size` bytes already written at `offset`; false when they
    // cannot be read.
    virtual bool readAt(std::int64_t offset, char *data, std::int64_t size) = 0;
    // The content is complete: exactly `size` bytes, made durable where the
    // writer can. False (and failed) otherwise.
    virtual bool finish(std::int64_t size) = 0;
    // Marks the writer failed for `reason` found outside it (a read of its
    // source failed, say); the first reason stays.
    virtual void fail(const std::string &reason) = 0;
    // Why writing failed; empty while nothing has failed.
    virtual std::string errorString() const = 0;

    // Appends after the furthest byte written so far.
    bool write(const char *data, std::int64_t size) { return writeAt(end_, data, size); }
    bool write(std::string_view bytes) { return write(bytes.data(), std::int64_t(bytes.size())); }

  protected:
    // Each writeAt() that succeeds moves the end past what it wrote.
    void wrote(std::int64_t offset, std::int64_t size) {
        if (offset + size > end_)
            end_ = offset + size;
    }

  private:
    std::int64_t end_ = 0;
};

// Writing into memory.
class MemoryWriter final : public Writer {
  public:
    bool writeAt(std::int64_t offset, const char *data, std::int64_t size) override;
    bool readAt(std::int64_t offset, char *data, std::int64_t size) override;
    bool finish(std::int64_t size) override;
    void fail(const std::string &reason) override;
    std::string errorString() const override { return error_; }

    const std::string &bytes() const { return bytes_; }

  private:
    std::string bytes_;
    std::string error_;
    bool failed_ = false;
};

} // namespace tarnic
