#include "rom/ImageDigests.h"

#include "files/Crc32.h"
#include "files/SafeWrite.h"
#include "rom/ByteOrderConversion.h"

#include <QCryptographicHash>
#include <QFile>

#include <filesystem>
#include <vector>

namespace tarnic {

namespace {

class Digester {
  public:
    void add(const char *data, qint64 size) {
        crc_ = crc32(crc_, data, size_t(size));
        md5_.addData(QByteArrayView(data, size));
        sha1_.addData(QByteArrayView(data, size));
    }
    Digests result() const { return {crc_, md5_.result(), sha1_.result()}; }

  private:
    std::uint32_t crc_ = 0;
    QCryptographicHash md5_{QCryptographicHash::Md5};
    QCryptographicHash sha1_{QCryptographicHash::Sha1};
};

} // namespace

ImageDigests digestsOf(const std::filesystem::path &imagePath, ByteOrder own) {
    ImageDigests result;
    QFile image;
    if (!openRegularFile(image, imagePath))
        return result;
    const bool reorder = own == ByteOrder::ByteSwapped || own == ByteOrder::LittleEndian;
    Digester stored;
    Digester cartridge;
    std::vector<char> piece(kCopyChunkSize);
    for (;;) {
        const qint64 n = readFully(image, piece.data(), kCopyChunkSize);
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
