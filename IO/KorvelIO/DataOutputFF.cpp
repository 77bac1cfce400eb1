#include "IO/KorvelIO/DataOutputFF.h"

#include "IO/Detail/RefCounting.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IDataOutput> DataOutputFF::Create(const Korvel::ioPath& path)
{
    return boost::intrusive_ptr<IDataOutput>(new DataOutputFF(path));
}

DataOutputFF::DataOutputFF(const Korvel::ioPath& path) : m_path(path) {}

unsigned long long DataOutputFF::Write(const unsigned char*, unsigned long long)
{
    return 0;
}

const Korvel::ioPath& DataOutputFF::GetFilename() const
{
    return m_path;
}

unsigned long long DataOutputFF::GetSize() const
{
    return 0;
}

void DataOutputFF::SetSize(unsigned long long) {}

unsigned long long DataOutputFF::GetPosition() const
{
    return 0;
}

void DataOutputFF::SetPosition(unsigned long long) {}

KORVEL_DEFINE_LOCKABLE(DataOutputFF, m_lock)
KORVEL_DEFINE_REFCOUNT(DataOutputFF, m_refCount)

}  // namespace Core
}  // namespace Korvel
