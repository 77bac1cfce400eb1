#include "IO/KorvelIO/DataOutputString.h"

#include <cstring>
#include <stdexcept>

#include "IO/Detail/RefCounting.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

boost::intrusive_ptr<IDataOutput> DataOutputString::Create(std::string* text)
{
    return boost::intrusive_ptr<IDataOutput>(new DataOutputString(text));
}

DataOutputString::DataOutputString(std::string* text) : m_string(text) {}

unsigned long long DataOutputString::Write(const unsigned char* data, unsigned long long size)
{
    // A count that would carry the end past 2^64 cannot be a real buffer: refuse it before
    // the wrapped end turns into a copy of that size.
    if (size > ~0ULL - m_position)
        KORVEL_THROW(std::length_error("DataOutputString::Write: position + size overflows"));
    const unsigned long long end = m_position + size;
    // Growing first also covers a string the caller shortened below the position: the copy
    // always lands inside it.
    if (end > m_string->size())
        m_string->resize(end, '\0');
    if (size != 0)
        std::memcpy(&(*m_string)[m_position], data, size);
    m_position = end;
    return size;
}

const Korvel::ioPath& DataOutputString::GetFilename() const
{
    return m_name;
}

unsigned long long DataOutputString::GetSize() const
{
    return m_string->size();
}

void DataOutputString::SetSize(unsigned long long size)
{
    m_string->resize(size, '\0');
    if (m_position > size)
        m_position = size;
}

unsigned long long DataOutputString::GetPosition() const
{
    return m_position;
}

void DataOutputString::SetPosition(unsigned long long position)
{
    if (position > m_string->size())
        KORVEL_THROW(IOException() << IOException::SeekInfo(position));
    m_position = position;
}

KORVEL_DEFINE_LOCKABLE(DataOutputString, m_lock)
KORVEL_DEFINE_REFCOUNT(DataOutputString, m_refCount)

}  // namespace Core
}  // namespace Korvel
