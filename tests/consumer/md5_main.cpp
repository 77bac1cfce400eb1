#include <iostream>

#include "IO/ZephIO.h"
#include "ZephHash/MD5Generate.h"

int main()
{
    const std::vector<unsigned char> bytes = {'a', 'b'};
    const std::string direct = Korvel::Core::MD5Generate(bytes, "c");
    const std::string viaStream =
        Korvel::Core::MD5Generate(Korvel::Core::DataInputMemory::Create(bytes.data(), bytes.size()), "c");
    std::cout << "md5 " << direct << "\n";
    return direct == "900150983cd24fb0d6963f7d28e17f72" && viaStream == direct ? 0 : 1;
}
