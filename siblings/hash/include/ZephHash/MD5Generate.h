#pragma once
/// \file
/// MD5 of bytes, from the sibling library ZephHash: link ZephIO::ZephHash (CMake) or use the
/// pkg-config module zephio. MD5Generate hashes a byte vector held whole; MD5Hasher takes the
/// bytes piece by piece, so a large input never has to be in memory at once:
///
/// \code
///   #include <cstdio>
///   #include "ZephHash/MD5Generate.h"
///
///   std::FILE* file = std::fopen("large.bin", "rb");
///   Korvel::Core::MD5Hasher hasher;
///   unsigned char piece[65536];
///   while (const std::size_t n = std::fread(piece, 1, sizeof piece, file))
///       hasher.Add(piece, n);
///   std::fclose(file);
///   std::string digest = hasher.Finish();   // 32 lowercase hexadecimal digits
/// \endcode
#include "ZephExport/Export.h"
#include <string>
#include <vector>

namespace Korvel {
namespace Core {

/// Lowercase hexadecimal MD5 (32 characters) of `bytes` followed by the bytes of `text`.
ZEPH_API std::string MD5Generate(const std::vector<unsigned char>& bytes, const std::string& text);

/// An MD5 digest computed incrementally: Add the bytes in pieces of any size, then Finish.
/// Adding a message in pieces gives the same digest as MD5Generate of the whole. Not copyable;
/// one object is for one thread at a time. Failures of the digest library throw
/// std::runtime_error.
class ZEPH_API MD5Hasher {
public:
    /// Starts an empty message.
    MD5Hasher();
    ~MD5Hasher();
    MD5Hasher(const MD5Hasher&) = delete;
    MD5Hasher& operator=(const MD5Hasher&) = delete;

    /// Appends `size` bytes from `bytes` (which may be null when `size` is 0).
    void Add(const unsigned char* bytes, unsigned long long size);
    /// Appends the bytes of `text`.
    void Add(const std::string& text);
    /// Lowercase hexadecimal MD5 (32 characters) of everything added since the start or the last
    /// Finish; the hasher then starts a new, empty message.
    std::string Finish();

private:
    struct Context;
    Context* m_context;
};

}  // namespace Core
}  // namespace Korvel
