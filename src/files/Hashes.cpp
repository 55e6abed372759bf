#include "files/Hashes.h"

#include <gcrypt.h>

namespace tarnic {

namespace {

// libgcrypt wants to be told, once, that the program uses it.
void initialiseOnce() {
    static const bool initialised = [] {
        gcry_check_version(GCRYPT_VERSION);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
}

gcry_md_hd_t openDigest(int algorithm) {
    initialiseOnce();
    gcry_md_hd_t handle = nullptr;
    gcry_md_open(&handle, algorithm, 0);
    return handle;
}

std::string digestOf(gcry_md_hd_t handle, int algorithm) {
    const unsigned char *bytes = handle ? gcry_md_read(handle, algorithm) : nullptr;
    if (!bytes)
        return {};
    return std::string(reinterpret_cast<const char *>(bytes), gcry_md_get_algo_dlen(algorithm));
}

} // namespace

struct Md5::Context {
    gcry_md_hd_t handle = openDigest(GCRY_MD_MD5);
    ~Context() { gcry_md_close(handle); }
};

Md5::Md5() : context_(std::make_unique<Context>()) {}

Md5::~Md5() = default;

void Md5::add(const void *data, std::size_t size) {
    if (context_->handle)
        gcry_md_write(context_->handle, data, size);
}

std::string Md5::result() {
    return digestOf(context_->handle, GCRY_MD_MD5);
}

struct Sha1::Context {
    gcry_md_hd_t handle = openDigest(GCRY_MD_SHA1);
    ~Context() { gcry_md_close(handle); }
};

Sha1::Sha1() : context_(std::make_unique<Context>()) {}

Sha1::~Sha1() = default;

void Sha1::add(const void *data, std::size_t size) {
    if (context_->handle)
        gcry_md_write(context_->handle, data, size);
}

std::string Sha1::result() {
    return digestOf(context_->handle, GCRY_MD_SHA1);
}

std::string md5Of(const void *data, std::size_t size) {
    Md5 md5;
    md5.add(data, size);
    return md5.result();
}

} // namespace tarnic
