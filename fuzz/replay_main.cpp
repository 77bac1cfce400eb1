// Runs a fuzz target once on every file of the folders (or files) given, so that its seed corpus
// and the crash inputs kept there are replayed as an ordinary test in every build, not only in
// the libFuzzer one, then on fixed pseudo-random inputs, which reach paths no seed names. A
// broken property aborts, as it does under the fuzzer.
#include <algorithm>
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
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i)
        if (!std::filesystem::is_directory(argv[i]))
            inputs.emplace_back(argv[i]);
        else
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const auto& input : inputs) {
        std::ifstream file(input, std::ios::binary);
        const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // Named first, so that a crash says which input made it.
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), data.size());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::mt19937 random(1);
    for (int n = 0; n < 500; ++n) {
        std::vector<uint8_t> bytes(random() % 1024);
        for (auto& byte : bytes)
            byte = static_cast<uint8_t>(random());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs and 500 random ones replayed\n", inputs.size());
    return 0;
}
