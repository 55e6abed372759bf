#pragma once
// Reading a plain file, by position, so that several threads may read one file
// at once. Only plain files are opened: a FIFO, device, socket or folder
// (directly or through a symbolic link) is refused at once, never waited on.

#include "io/Reader.h"

#include <filesystem>

namespace tarnic {

class FileReader final : public Reader {
  public:
    FileReader() = default;
    ~FileReader() override;
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    // Opens `path` for reading when it is a plain file, following symbolic
    // links; false at once for anything else, or a file that cannot be opened.
    bool open(const std::filesystem::path &path);
    bool isOpen() const;
    void close();

    std::int64_t size() const override;
    std::int64_t readAt(std::int64_t offset, char *into, std::int64_t count) override;
    const char *map(std::int64_t offset, std::int64_t count) override;

  private:
    void unmap();

#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int descriptor_ = -1;
    void *mapped_ = nullptr;
    std::size_t mappedLength_ = 0;
#endif
};

} // namespace tarnic
