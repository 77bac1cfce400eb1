#pragma once
/// \file
/// The stream form of MD5Generate: gathers a seekable stream's bytes with one Read from its
/// current position (as StreamToBuffer does, unread bytes left zero) and returns what the
/// hash library's MD5Generate(bytes, text) returns for them and `text`. Takes no reference
/// and no lock.
#include "ZephExport/Export.h"
#include <string>

#include "IO/IDataInput.h"

namespace Korvel {
namespace Core {

/// Lowercase hexadecimal MD5 of the stream's bytes followed by the bytes of `text`.
ZEPH_API std::string MD5Generate(const boost::intrusive_ptr<IDataInput>& input, const std::string& text);

}  // namespace Core
}  // namespace Korvel
