#pragma once
/// \file
/// The stream form of MD5Generate: gathers a seekable stream's bytes with one Read from its
/// current position (as StreamToBuffer does, unread bytes left zero) and returns what the
/// hash library's MD5Generate(bytes, text) returns for them and `text`. Takes no reference
/// and no lock. MD5GenerateStreaming gives the same digest while holding at most one piece of
/// the stream in memory:
///
/// \code
///   auto input = Korvel::Core::DataInputFile::Create(Korvel::ioPath("large.bin"));
///   std::string digest = Korvel::Core::MD5GenerateStreaming(input, "", 1 << 20);   // 1 MiB pieces
/// \endcode
#include "ZephExport/Export.h"
#include <string>

#include "IO/IDataInput.h"

namespace Korvel {
namespace Core {

/// Lowercase hexadecimal MD5 of the stream's bytes followed by the bytes of `text`. Holds the
/// whole stream in memory at once.
ZEPH_API std::string MD5Generate(const boost::intrusive_ptr<IDataInput>& input, const std::string& text);

/// The same digest as MD5Generate(input, text) for every stream and position, read in Reads of
/// at most `pieceSize` bytes, so that memory stays at one piece whatever the stream's size.
/// Like MD5Generate it hashes GetSize() bytes starting at the current position and never calls
/// SetPosition: after a short Read (the end of the stream) the rest of the GetSize() bytes count
/// as zero, so a stream positioned at p hashes its last GetSize() - p bytes, then p zero bytes.
/// The position is left where the Reads left it (at the end, for a file or memory stream).
/// Throws std::invalid_argument for a `pieceSize` of 0 and std::length_error for a size that no
/// buffer could hold (as MD5Generate does: a file that cannot seek reports 2^64 - 1).
ZEPH_API std::string MD5GenerateStreaming(const boost::intrusive_ptr<IDataInput>& input, const std::string& text,
                                          unsigned long long pieceSize);

}  // namespace Core
}  // namespace Korvel
