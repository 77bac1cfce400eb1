#include "IO/KorvelIO/DataInputFile.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>

#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IDataInput> DataInputFile::Create(const Korvel::ioPath& path)
{
    // Held by the pointer while checked, so a failed open is released during unwinding.
    boost::intrusive_ptr<DataInputFile> file(new DataInputFile(path));
    if (!file->Good()) {
        const int error = errno;
        KORVEL_THROW(AddStack(IOException()
                              << FilenameInfo(path.utf8string()) << DescriptionInfo("Can not open file for reading")
                              << DetailsInfo(std::strerror(error))));
    }
    return file;
}

DataInputFile::DataInputFile(const Korvel::ioPath& path) : m_path(path)
{
    m_file = std::fopen(m_path.utf8string().c_str(), "rb");
    if (m_file) {
        // Not checked: a stream that cannot seek keeps whatever ftello answers (-1 as 2^64-1).
        fseeko(m_file, 0, SEEK_END);
        m_size = static_cast<unsigned long long>(ftello(m_file));
        fseeko(m_file, 0, SEEK_SET);
    }
}

DataInputFile::~DataInputFile()
{
    if (m_file)
        std::fclose(m_file);
}

bool DataInputFile::Good() const
{
    return m_file != nullptr;
}

unsigned long long DataInputFile::Read(unsigned char* buffer, unsigned long long size)
{
    return std::fread(buffer, 1, size, m_file);
}

const Korvel::ioPath& DataInputFile::GetFilename() const
{
    return m_path;
}

unsigned long long DataInputFile::GetSize() const
{
    return m_size;
}

unsigned long long DataInputFile::GetPosition() const
{
    return static_cast<unsigned long long>(ftello(m_file));
}

void DataInputFile::SetPosition(unsigned long long position)
{
    // Beyond 2^63-1 the offset turns negative and the system refuses it (EINVAL); the
    // position then stays where it was, and this stream reports nothing.
    fseeko(m_file, static_cast<off_t>(position), SEEK_SET);
}

KORVEL_DEFINE_LOCKABLE(DataInputFile, m_lock)
KORVEL_DEFINE_REFCOUNT(DataInputFile, m_refCount)

}  // namespace Core
}  // namespace Korvel
