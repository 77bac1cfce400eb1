#include "IO/MD5Generate.h"

#include <algorithm>
#include <stdexcept>
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

std::string MD5GenerateStreaming(const boost::intrusive_ptr<IDataInput>& input, const std::string& text,
                                 unsigned long long pieceSize)
{
    if (pieceSize == 0)
        throw std::invalid_argument("MD5GenerateStreaming: a piece size of 0");
    unsigned long long remaining = input->GetSize();
    // The whole-stream form fails on such a size; reading it here would pad zeros for ever.
    if (remaining > std::vector<unsigned char>().max_size())
        throw std::length_error("MD5GenerateStreaming: stream size beyond any buffer");

    std::vector<unsigned char> piece(std::min(pieceSize, remaining));
    MD5Hasher hasher;
    while (remaining > 0) {
        const unsigned long long want = std::min<unsigned long long>(piece.size(), remaining);
        const unsigned long long got = input->Read(piece.data(), want);
        hasher.Add(piece.data(), got);
        remaining -= got;
        if (got < want)
            break;
    }
    // What the one Read of the whole-stream form leaves unfilled is zero.
    if (remaining > 0)
        std::fill(piece.begin(), piece.end(), 0);
    while (remaining > 0) {
        const unsigned long long zeros = std::min<unsigned long long>(piece.size(), remaining);
        hasher.Add(piece.data(), zeros);
        remaining -= zeros;
    }
    hasher.Add(text);
    return hasher.Finish();
}

}  // namespace Core
}  // namespace Korvel
