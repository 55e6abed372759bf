#pragma once
// What the engine reads a patch or an image through: a file (files/FileReader.h)
// or a piece of memory (below), so that the same formats run wherever the
// bytes come from. Random access underneath; reading in order on top, with a
// buffer, because patches are read front to back a few bytes at a time.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnic {

class Reader {
  public:
    virtual ~Reader() = default;

    // The content's length in bytes.
    virtual std::int64_t size() const = 0;
    // Reads up to `count` bytes at `offset`: fewer only where the content
    // ends; -1 when the read fails (errorString() then says why).
    virtual std::int64_t readAt(std::int64_t offset, char *into, std::int64_t count) = 0;
    // `count` bytes at `offset` in memory without copying them, where the
    // content allows (memory itself, a file the system maps), valid until the
    // next map() or the reader's end; null otherwise, or where they are not
    // all there.
    virtual const char *map(std::int64_t offset, std::int64_t count);
    // Why the last read failed, in the system's words where it gave any.
    const std::string &errorString() const { return error_; }

    // Reading in order, from pos(): fewer bytes only where the content ends,
    // -1 (or, for the second form, fewer) when a read fails.
    std::int64_t read(char *into, std::int64_t count);
    std::string read(std::int64_t count);
    bool getChar(char *into);
    std::int64_t pos() const { return position_; }
    // Any position from 0 on; reading past the end gives nothing.
    bool seek(std::int64_t position);
    bool atEnd() const { return position_ >= size(); }

  protected:
    void setError(std::string reason) { error_ = std::move(reason); }

  private:
    std::int64_t position_ = 0;
    std::vector<char> buffer_;
    std::int64_t bufferStart_ = 0; // the offset of buffer_'s first byte
    std::string error_;
};

// A piece of memory to read, which must outlive the reader.
class MemoryReader final : public Reader {
  public:
    explicit MemoryReader(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t size() const override { return std::int64_t(bytes_.size()); }
    std::int64_t readAt(std::int64_t offset, char *into, std::int64_t count) override;
    const char *map(std::int64_t offset, std::int64_t count) override;

  private:
    std::string_view bytes_;
};

} // namespace tarnic
