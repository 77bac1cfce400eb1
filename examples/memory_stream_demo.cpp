// Reads a memory stream, then seeks past its end and prints what the IOException says.
#include <iostream>
#include <string>

#include "IO/ZephIO.h"

int main()
{
    const std::string text = "Hello from a memory stream";
    auto input =
        Korvel::Core::DataInputMemory::Create(reinterpret_cast<const unsigned char*>(text.data()), text.size());

    std::string read(text.size(), '\0');
    unsigned long long n = input->Read(reinterpret_cast<unsigned char*>(&read[0]), read.size());
    std::cout << "read " << n << " bytes: " << read << "\n";

    try {
        input->SetPosition(input->GetSize() + 1);
    } catch (const Korvel::Core::IOException& e) {
        std::cout << "seek past the end failed as expected: " << Korvel::DescribeException(e) << "\n";
        return 0;
    }
    std::cerr << "seek past the end did not fail\n";
    return 1;
}
