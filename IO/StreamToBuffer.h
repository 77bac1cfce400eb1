#pragma once
/// \file
/// Whole-stream helpers: copy a seekable stream into memory and back. Each makes exactly one
/// Read or Write call on the stream, from (or at) its current position, and takes neither a
/// reference nor the stream's lock: hold the lock around the call when the stream is shared.
///
/// \code
///   auto input = Korvel::Core::DataInputFile::Create(Korvel::ioPath("in.bin"));
///   std::vector<unsigned char> bytes = Korvel::Core::StreamToBuffer(input.get(), false);
/// \endcode
#include "ZephExport/Export.h"
#include <string>
#include <vector>

#include "IO/IDataInput.h"
#include "IO/IDataOutput.h"

namespace Korvel {
namespace Core {

/// GetSize() bytes, followed by one zero byte when `terminate` is true. The one Read starts
/// at the current position: whatever it does not fill (a stream positioned mid-way, or a
/// short read) stays zero.
ZEPH_API std::vector<unsigned char> StreamToBuffer(IDataInput* input, bool terminate);

/// GetSize() bytes as a string; the same one-Read rule as StreamToBuffer.
ZEPH_API std::string StreamToBufferString(IDataInput* input);

///@{
/// One Write of the whole buffer at the output's current position (also for an empty
/// buffer); returns what that Write returned.
ZEPH_API unsigned long long BufferToStream(const std::vector<unsigned char>& buffer, IDataOutput* output);
ZEPH_API unsigned long long BufferToStream(const std::string& text, IDataOutput* output);
///@}

}  // namespace Core
}  // namespace Korvel
