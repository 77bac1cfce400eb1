#pragma once
/// \file
/// MD5 of a byte vector, from the sibling library ZephHash: link ZephIO::ZephHash (CMake) or
/// use the pkg-config module zephio.
#include "ZephExport/Export.h"
#include <string>
#include <vector>

namespace Korvel {
namespace Core {

/// Lowercase hexadecimal MD5 (32 characters) of `bytes` followed by the bytes of `text`.
ZEPH_API std::string MD5Generate(const std::vector<unsigned char>& bytes, const std::string& text);

}  // namespace Core
}  // namespace Korvel
