#include "IO/StreamToBuffer.h"

namespace Korvel {
namespace Core {

std::vector<unsigned char> StreamToBuffer(IDataInput* input, bool terminate)
{
    const unsigned long long size = input->GetSize();
    // A size the vector cannot hold (a file whose length the system could not tell reports
    // 2^64-1) must make the vector throw, not wrap around to a tiny buffer with size + 1.
    const bool room = size < std::vector<unsigned char>().max_size();
    std::vector<unsigned char> buffer(terminate && room ? size + 1 : size);
    input->Read(buffer.data(), size);
    if (terminate)
        buffer[size] = 0;
    return buffer;
}

std::string StreamToBufferString(IDataInput* input)
{
    const unsigned long long size = input->GetSize();
    std::string text(size, '\0');
    input->Read(reinterpret_cast<unsigned char*>(&text[0]), size);
    return text;
}

unsigned long long BufferToStream(const std::vector<unsigned char>& buffer, IDataOutput* output)
{
    return output->Write(buffer.data(), buffer.size());
}

unsigned long long BufferToStream(const std::string& text, IDataOutput* output)
{
    return output->Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace Core
}  // namespace Korvel
