#include "ZephHash/MD5Generate.h"

#include <memory>
#include <stdexcept>

#include <openssl/evp.h>

namespace Korvel {
namespace Core {

std::string MD5Generate(const std::vector<unsigned char>& bytes, const std::string& text)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestUpdate(ctx.get(), text.data(), text.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
        throw std::runtime_error("MD5 digest failed");

    static const char hex[] = "0123456789abcdef";
    std::string result;
    result.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        result.push_back(hex[digest[i] >> 4]);
        result.push_back(hex[digest[i] & 0x0f]);
    }
    return result;
}

}  // namespace Core
}  // namespace Korvel
