#pragma once
// MD5 and SHA-1, which ROM databases list images by and the boot code is told
// from, computed by libgcrypt (which Debian also builds for Windows).

#include <cstddef>
#include <memory>
#include <string>

namespace tarnic {

// A digest computed piece by piece; result() gives its raw bytes (16 for MD5,
// 20 for SHA-1).
class Digest {
  public:
    enum class Kind { Md5, Sha1 };

    explicit Digest(Kind kind);
    ~Digest();
    Digest(const Digest &) = delete;
    Digest &operator=(const Digest &) = delete;

    void add(const void *data, std::size_t size);
    std::string result();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// The MD5 digest of `size` bytes, as raw bytes.
std::string md5Of(const void *data, std::size_t size);

} // namespace tarnic
