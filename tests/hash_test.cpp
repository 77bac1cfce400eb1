// MD5 taken piece by piece: the sibling's MD5Hasher and the library's MD5GenerateStreaming, on
// the standard test vectors, a real file and a FIFO.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "ZephHash/MD5Generate.h"
#include "support/Fifo.h"
#include "support/TempDir.h"
#include "support/Timeout.h"

// The largest single allocation since the last reset, the library's own included: a piecewise
// hash must never ask for the whole stream at once.
static std::atomic<std::size_t> g_largestAllocation{0};

void* operator new(std::size_t size)
{
    std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

// Out of line, or GCC warns that free() meets memory from operator new.
__attribute__((noinline)) void operator delete(void* memory) noexcept
{
    std::free(memory);
}

__attribute__((noinline)) void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

using namespace Korvel;
using namespace Korvel::Core;
using Bytes = std::vector<unsigned char>;

namespace {

const unsigned char* U(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

struct Vector {
    std::string message;
    const char* digest;
};

// RFC 1321's test suite, and a million 'a's.
const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"}};

// Below, at and above MD5's 64-byte block, and more than any message.
const unsigned long long kPieceSizes[] = {1, 63, 64, 65, 1 << 20};

}  // namespace

TEST(StreamingHash, KnownDigestsThroughPiecesOfEverySize)
{
    MD5Hasher hasher;
    for (const Vector& vector : kVectors) {
        const std::string& message = vector.message;
        SCOPED_TRACE(message.substr(0, 16));
        for (const unsigned long long piece : kPieceSizes) {
            SCOPED_TRACE(piece);
            for (size_t at = 0; at < message.size(); at += piece)
                hasher.Add(U(message) + at, std::min<size_t>(piece, message.size() - at));
            EXPECT_EQ(hasher.Finish(), vector.digest);  // and starts the next message empty

            // The text goes after the stream's bytes.
            const size_t split = message.size() / 3;
            const std::string head = message.substr(0, message.size() - split);
            auto input = DataInputMemory::Create(U(head), head.size());
            EXPECT_EQ(MD5GenerateStreaming(input, message.substr(head.size()), piece), vector.digest);
            EXPECT_EQ(input->GetPosition(), head.size());
        }
        hasher.Add(nullptr, 0);
        hasher.Add(message);
        EXPECT_EQ(hasher.Finish(), vector.digest);
        EXPECT_EQ(MD5Generate(Bytes(message.begin(), message.end()), ""), vector.digest);
    }
}

TEST(StreamingHash, SameAsTheWholeStreamFormOnAFileFromAnyPositionInBoundedMemory)
{
    ZephTest::TempDir dir;
    Bytes content((1 << 20) + 4321);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    std::ofstream(dir.File("data"), std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    auto input = DataInputFile::Create(ioPath(dir.File("data")));
    const unsigned long long size = content.size();

    // From p the one-Read form hashes the last size - p bytes, then p zeros; p may lie past the end.
    for (const unsigned long long position : {0ull, 1ull, 100000ull, size, size + 5}) {
        SCOPED_TRACE(position);
        Bytes tail(content.begin() + std::min(position, size), content.end());
        tail.resize(size);
        const std::string expected = MD5Generate(tail, "salt");

        input->SetPosition(position);
        g_largestAllocation = 0;
        EXPECT_EQ(MD5Generate(input, "salt"), expected);
        EXPECT_GE(g_largestAllocation.load(), size);  // the measure sees the library's allocations
        const unsigned long long after = input->GetPosition();

        for (const unsigned long long piece : {4097ull, 1ull << 16}) {
            SCOPED_TRACE(piece);
            input->SetPosition(position);
            g_largestAllocation = 0;
            EXPECT_EQ(MD5GenerateStreaming(input, "salt", piece), expected);
            EXPECT_LE(g_largestAllocation.load(), piece);
            EXPECT_EQ(input->GetPosition(), after);
        }
    }
}

TEST(StreamingHash, RefusesAPieceSizeOfZeroAndASizeNoBufferHolds)
{
    // A file input over a FIFO cannot seek and reports 2^64 - 1 bytes: both forms throw at once
    // instead of reading (or padding) for ever.
    ZephTest::Fifo fifo;
    const int writer = open(fifo.path.c_str(), O_RDWR | O_NONBLOCK);  // so opening cannot block
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "abc", 3), 3);
    auto input = DataInputFile::Create(ioPath(fifo.path));
    const unsigned char bytes[] = {1, 2, 3};
    ZephTest::FinishesWithin("hashing with pieces of 0 bytes, and a FIFO", [&] {
        EXPECT_THROW(MD5GenerateStreaming(DataInputMemory::Create(bytes, 3), "", 0), std::invalid_argument);
        EXPECT_THROW(MD5Generate(input, ""), std::length_error);
        EXPECT_THROW(MD5GenerateStreaming(input, "", 1 << 16), std::length_error);
    });
    close(writer);
}
