#include "rom/ImageDigests.h"

#include "files/Crc32.h"
#include "files/SafeWrite.h"
#include "rom/ByteOrderConversion.h"

#include "files/FileReader.h"
#include "files/Hashes.h"

#include <filesystem>
#include <vector>

namespace tarnic {

namespace {

class Digester {
  public:
    void add(const char *data, std::int64_t size) {
        crc_ = crc32(crc_, data, size_t(size));
        md5_.add(data, size_t(size));
        sha1_.add(data, size_t(size));
    }
    Digests result() { return {crc_, md5_.result(), sha1_.result()}; }

  private:
    std::uint32_t crc_ = 0;
    Digest md5_{Digest::Kind::Md5};
    Digest sha1_{Digest::Kind::Sha1};
};

} // namespace

ImageDigests digestsOf(const std::filesystem::path &imagePath, ByteOrder own) {
    ImageDigests result;
    FileReader image;
    if (!image.open(imagePath))
        return result;
    const bool reorder = own == ByteOrder::ByteSwapped || own == ByteOrder::LittleEndian;
    Digester stored;
    Digester cartridge;
    std::vector<char> piece(kCopyChunkSize);
    for (;;) {
        const std::int64_t n = image.read(piece.data(), kCopyChunkSize);
        if (n < 0)
            return result;
        if (n == 0)
            break;
        stored.add(piece.data(), n);
        if (reorder) {
            reorderBytes(piece.data(), n, own, ByteOrder::Cartridge);
            cartridge.add(piece.data(), n);
        }
    }
    result.read = true;
    result.stored = stored.result();
    result.cartridgeOrder = reorder ? cartridge.result() : result.stored;
    return result;
}

} // namespace tarnic
