#include "files/Hashes.h"

#include <gcrypt.h>

namespace tarnic {

struct Digest::Context {
    int algorithm = GCRY_MD_NONE;
    gcry_md_hd_t handle = nullptr;
    ~Context() { gcry_md_close(handle); }
};

Digest::Digest(Kind kind) : context_(std::make_unique<Context>()) {
    // libgcrypt wants to be told, once, that the program uses it.
    static const bool initialised = [] {
        gcry_check_version(GCRYPT_VERSION);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
    context_->algorithm = kind == Kind::Md5 ? GCRY_MD_MD5 : GCRY_MD_SHA1;
    gcry_md_open(&context_->handle, context_->algorithm, 0);
}

Digest::~Digest() = default;

void Digest::add(const void *data, std::size_t size) {
    if (context_->handle)
        gcry_md_write(context_->handle, data, size);
}

std::string Digest::result() {
    const unsigned char *bytes =
        context_->handle ? gcry_md_read(context_->handle, context_->algorithm) : nullptr;
    if (!bytes)
        return {};
    return std::string(reinterpret_cast<const char *>(bytes),
                       gcry_md_get_algo_dlen(context_->algorithm));
}

std::string md5Of(const void *data, std::size_t size) {
    Digest md5(Digest::Kind::Md5);
    md5.add(data, size);
    return md5.result();
}

} // namespace tarnic
