#include "ZephHash/MD5Generate.h"

#include <stdexcept>

#include <openssl/evp.h>

namespace Korvel {
namespace Core {

namespace {

void Check(int result)
{
    if (result != 1)
        throw std::runtime_error("MD5 digest failed");
}

}  // namespace

// Kept out of the header so that callers never see OpenSSL.
struct MD5Hasher::Context {
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(digest); }
};

MD5Hasher::MD5Hasher() : m_context(new Context)
{
    if (!m_context->digest || EVP_DigestInit_ex(m_context->digest, EVP_md5(), nullptr) != 1) {
        delete m_context;
        throw std::runtime_error("MD5 digest failed");
    }
}

MD5Hasher::~MD5Hasher()
{
    delete m_context;
}

void MD5Hasher::Add(const unsigned char* bytes, unsigned long long size)
{
    Check(EVP_DigestUpdate(m_context->digest, bytes, size));
}

void MD5Hasher::Add(const std::string& text)
{
    Check(EVP_DigestUpdate(m_context->digest, text.data(), text.size()));
}

std::string MD5Hasher::Finish()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    Check(EVP_DigestFinal_ex(m_context->digest, digest, &length));
    Check(EVP_DigestInit_ex(m_context->digest, EVP_md5(), nullptr));

    static const char hex[] = "0123456789abcdef";
    std::string result;
    result.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        result.push_back(hex[digest[i] >> 4]);
        result.push_back(hex[digest[i] & 0x0f]);
    }
    return result;
}

std::string MD5Generate(const std::vector<unsigned char>& bytes, const std::string& text)
{
    MD5Hasher hasher;
    hasher.Add(bytes.data(), bytes.size());
    hasher.Add(text);
    return hasher.Finish();
}

}  // namespace Core
}  // namespace Korvel
