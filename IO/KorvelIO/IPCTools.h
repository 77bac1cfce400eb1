#pragma once
/// \file
/// Unique names for FIFOs and temporary files: a path in the system's temporary directory
/// (TMPDIR when it names a directory, else the system default) made of the 36-character text
/// of a random UUID followed by a suffix that no existing file has. Nothing is created,
/// opened or reserved: the name is free when generated, and another process may still take
/// it before the caller creates its FIFO or file.
///
/// \code
///   #include <sys/stat.h>   // mkfifo
///
///   std::string name = Korvel::Core::GeneratePipeName();
///   mkfifo(name.c_str(), 0600);
/// \endcode
#include "ZephExport/Export.h"
#include <string>

namespace Korvel {
namespace Core {

/// Throws CoreException (DescriptionInfo "Failed to generate temp name", CallStackInfo) when
/// no name can be formed; boost::uuids::entropy_error when the random device fails.
ZEPH_API std::string GenerateTempFileName();

/// The same as GenerateTempFileName.
ZEPH_API std::string GeneratePipeName();

}  // namespace Core
}  // namespace Korvel
