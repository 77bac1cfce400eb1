#include "IO/KorvelIO/DataOutputFile.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>

#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

namespace {

// A failed open, seek or flush carries the system's text as its description and nothing else:
// no error number, no file name (GetFilename gives it), no call stack.
IOException SystemFailure(int error)
{
    return IOException() << DescriptionInfo(std::strerror(error));
}

}  // namespace

boost::intrusive_ptr<IDataOutput> DataOutputFile::Create(const Korvel::ioPath& path)
{
    return boost::intrusive_ptr<IDataOutput>(new DataOutputFile(path));
}

void DataOutputFile::Fclose(FILE* file)
{
    if (file)
        std::fclose(file);
}

DataOutputFile::DataOutputFile(const Korvel::ioPath& path) : m_path(path)
{
    Korvel::ioPath::create_directories(path.parent_path());

    FILE* file = std::fopen(path.utf8string().c_str(), "wb");
    const int openError = errno;
    // Should the bookkeeping allocation fail, reset closes the stream before throwing.
    m_file.reset(file, &DataOutputFile::Fclose);
    if (!file)
        KORVEL_THROW(SystemFailure(openError));

    // Each failure below leaves the constructor; m_file then closes the opened stream.
    if (fseeko(file, 0, SEEK_END) != 0)
        KORVEL_THROW(SystemFailure(errno));
    const off_t size = ftello(file);
    if (size == -1)
        KORVEL_THROW(SystemFailure(errno));
    m_size = static_cast<unsigned long long>(size);
    if (fseeko(file, 0, SEEK_SET) != 0)
        KORVEL_THROW(SystemFailure(errno));
}

bool DataOutputFile::Good() const
{
    return m_file != nullptr;
}

unsigned long long DataOutputFile::Write(const unsigned char* data, unsigned long long size)
{
    const unsigned long long written = std::fwrite(data, 1, size, m_file.get());
    // Flushed on every call so nothing waits in stdio's buffer between calls.
    if (std::fflush(m_file.get()) != 0)
        KORVEL_THROW(SystemFailure(errno));
    return written;
}

const Korvel::ioPath& DataOutputFile::GetFilename() const
{
    return m_path;
}

unsigned long long DataOutputFile::GetSize() const
{
    return m_size;
}

void DataOutputFile::SetSize(unsigned long long) {}

unsigned long long DataOutputFile::GetPosition() const
{
    return static_cast<unsigned long long>(ftello(m_file.get()));
}

void DataOutputFile::SetPosition(unsigned long long position)
{
    // Beyond 2^63-1 the offset turns negative and the system refuses it with EINVAL.
    if (fseeko(m_file.get(), static_cast<off_t>(position), SEEK_SET) != 0)
        KORVEL_THROW(SystemFailure(errno));
}

KORVEL_DEFINE_LOCKABLE(DataOutputFile, m_lock)
KORVEL_DEFINE_REFCOUNT(DataOutputFile, m_refCount)

}  // namespace Core
}  // namespace Korvel
