#include "IO/KorvelIO/DataInputString.h"

#include <cstring>

#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IDataInput> DataInputString::Create(const std::string* text)
{
    return boost::intrusive_ptr<IDataInput>(new DataInputString(text));
}

DataInputString::DataInputString(const std::string* text) : m_string(text) {}

unsigned long long DataInputString::Read(unsigned char* buffer, unsigned long long size)
{
    const unsigned long long length = m_string->size();
    // A caller that shortened the string below the position gets nothing rather than a
    // read outside it.
    if (m_position >= length)
        return 0;
    const unsigned long long available = length - m_position;
    const unsigned long long n = size < available ? size : available;
    if (n != 0)
        std::memcpy(buffer, m_string->data() + m_position, n);
    m_position += n;
    return n;
}

const Korvel::ioPath& DataInputString::GetFilename() const
{
    return m_name;
}

unsigned long long DataInputString::GetSize() const
{
    return m_string->size();
}

unsigned long long DataInputString::GetPosition() const
{
    return m_position;
}

void DataInputString::SetPosition(unsigned long long position)
{
    if (position > m_string->size())
        KORVEL_THROW(IOException() << IOException::SeekInfo(position));
    m_position = position;
}

KORVEL_DEFINE_LOCKABLE(DataInputString, m_lock)
KORVEL_DEFINE_REFCOUNT(DataInputString, m_refCount)

}  // namespace Core
}  // namespace Korvel
