#include "IO/KorvelIO/DataInputFF.h"

#include "IO/Detail/RefCounting.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IDataInput> DataInputFF::Create(const Korvel::ioPath& path)
{
    return boost::intrusive_ptr<IDataInput>(new DataInputFF(path));
}

DataInputFF::DataInputFF(const Korvel::ioPath& path) : m_path(path) {}

unsigned long long DataInputFF::Read(unsigned char*, unsigned long long)
{
    return 0;
}

const Korvel::ioPath& DataInputFF::GetFilename() const
{
    return m_path;
}

unsigned long long DataInputFF::GetSize() const
{
    return 0;
}

unsigned long long DataInputFF::GetPosition() const
{
    return 0;
}

void DataInputFF::SetPosition(unsigned long long) {}

KORVEL_DEFINE_LOCKABLE(DataInputFF, m_lock)
KORVEL_DEFINE_REFCOUNT(DataInputFF, m_refCount)

}  // namespace Core
}  // namespace Korvel
