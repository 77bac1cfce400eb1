#pragma once
/// \file
/// The creation (birth) date of a file or folder as local-time text. A free function without
/// state.
#include "ZephExport/Export.h"
#include <string>

#include "ZephFilesystem/ioPath.h"

namespace Korvel {
namespace Core {

/// Text of the pattern "YYYY-MM-dd kk:mm:ss" in the default locale and time zone: YYYY is the
/// week-based year and kk the hour from 1 to 24. Empty when the item is missing or its file
/// system records no birth time; failures of the system calls never throw.
ZEPH_API std::string GetFileCreationDateString(const Korvel::ioPath& path);

}  // namespace Core
}  // namespace Korvel
