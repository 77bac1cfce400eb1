#include "IO/KorvelIO/DataInputMemory.h"

#include <cstring>
#include <stdexcept>

#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IDataInput> DataInputMemory::Create(const unsigned char* data, unsigned long long size)
{
    // Refused here rather than at the first Read, far from the mistake.
    if (data == nullptr && size != 0)
        KORVEL_THROW(std::invalid_argument("DataInputMemory::Create: null data with a non-zero size"));
    return boost::intrusive_ptr<IDataInput>(new DataInputMemory(data, size));
}

DataInputMemory::DataInputMemory(const unsigned char* data, unsigned long long size) : m_data(data), m_size(size) {}

unsigned long long DataInputMemory::Read(unsigned char* buffer, unsigned long long size)
{
    const unsigned long long available = m_size - m_position;
    const unsigned long long n = size < available ? size : available;
    if (n != 0)
        std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    return n;
}

const Korvel::ioPath& DataInputMemory::GetFilename() const
{
    return m_name;
}

unsigned long long DataInputMemory::GetSize() const
{
    return m_size;
}

unsigned long long DataInputMemory::GetPosition() const
{
    return m_position;
}

void DataInputMemory::SetPosition(unsigned long long position)
{
    if (position > m_size)
        KORVEL_THROW(IOException() << IOException::SeekInfo(position));
    m_position = position;
}

KORVEL_DEFINE_LOCKABLE(DataInputMemory, m_lock)
KORVEL_DEFINE_REFCOUNT(DataInputMemory, m_refCount)

}  // namespace Core
}  // namespace Korvel
