#include "DescriptorDigest.h"

#include <cerrno>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

namespace veyra::helper {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

std::optional<std::string> sha256OfDescriptor(int fd)
{
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    std::vector<unsigned char> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1)
            return std::nullopt;
        offset += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return std::nullopt;
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += hexDigits[digest[i] >> 4];
        hex += hexDigits[digest[i] & 0xF];
    }
    return hex;
}

} // namespace veyra::helper
