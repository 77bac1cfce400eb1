#include "ZephFilesystem/ioPath.h"

namespace Korvel {

std::string ioPath::utf8string() const
{
    // Paths on this platform are byte strings already in UTF-8.
    return m_path.string();
}

ioPath ioPath::parent_path() const
{
    return ioPath(m_path.parent_path());
}

bool ioPath::create_directories(const ioPath& path)
{
    if (path.m_path.empty())
        return false;
    return std::filesystem::create_directories(path.m_path);
}

}  // namespace Korvel
