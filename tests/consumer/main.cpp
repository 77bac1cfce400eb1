#include <iostream>

#include "IO/ZephIO.h"

int main()
{
    const unsigned char bytes[] = {1, 2, 3};
    auto input = Korvel::Core::DataInputMemory::Create(bytes, sizeof bytes);
    unsigned char buffer[8];
    if (input->Read(buffer, sizeof buffer) != 3)
        return 1;
    // The stream form of MD5Generate is libZephIO's own; the byte-vector form is ZephHash's.
    if (Korvel::Core::MD5Generate(Korvel::Core::DataInputMemory::Create(bytes, sizeof bytes), "c") !=
        "8886122116989d404dbdd3950a9a9f64")
        return 1;
    if (Korvel::Core::MD5GenerateStreaming(Korvel::Core::DataInputMemory::Create(bytes, sizeof bytes), "c", 2) !=
        "8886122116989d404dbdd3950a9a9f64")
        return 1;
    try {
        input->SetPosition(4);
    } catch (const Korvel::Core::IOException& e) {
        const unsigned long long* seek = boost::get_error_info<Korvel::Core::IOException::SeekInfo>(e);
        std::cout << "consumer ok, seek " << (seek ? *seek : 0) << "\n";
        return seek && *seek == 4 ? 0 : 1;
    }
    return 1;
}
