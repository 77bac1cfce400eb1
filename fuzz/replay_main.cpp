// Runs a fuzz target over the files of the folders given (its seed corpus and the crash inputs
// kept there), then over fixed pseudo-random inputs, so its model runs in every ordinary build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    int files = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++files;
        }
    std::mt19937 random(1);
    for (int n = 0; n < 500; ++n) {
        std::vector<uint8_t> bytes(random() % 1024);
        for (auto& byte : bytes)
            byte = static_cast<uint8_t>(random());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%d corpus files and 500 random inputs passed\n", files);
    return files == 0;  // a wrong folder must not pass unnoticed
}
