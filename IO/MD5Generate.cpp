#include "IO/MD5Generate.h"

#include <vector>

#include "ZephHash/MD5Generate.h"

namespace Korvel {
namespace Core {

std::string MD5Generate(const boost::intrusive_ptr<IDataInput>& input, const std::string& text)
{
    const unsigned long long size = input->GetSize();
    std::vector<unsigned char> bytes(size);
    input->Read(bytes.data(), size);
    return MD5Generate(bytes, text);
}

}  // namespace Core
}  // namespace Korvel
