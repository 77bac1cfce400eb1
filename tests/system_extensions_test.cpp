// The seam between POSIX and the system's extensions (IO/Detail/SystemExtensions). This suite
// compiles its own copy of the seam with no extension, so the POSIX fallbacks are tested in
// every build; the library's own choice is seen through DataAvailableDescriptor.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "IO/Detail/SystemExtensions.h"
#include "IO/ZephIO.h"
#include "support/Timeout.h"

using Korvel::Core::DataAvailableDescriptor;
using Korvel::Detail::EventDescriptor;

namespace {

// Built with ZEPH_POSIX_ONLY, or on a system without the Linux extensions.
#ifdef ZEPHTEST_POSIX_ONLY
constexpr bool kLibraryPosixOnly = true;
#else
constexpr bool kLibraryPosixOnly = false;
#endif

bool Readable(int descriptor)
{
    pollfd watched{descriptor, POLLIN, 0};
    return poll(&watched, 1, 0) == 1;
}

std::vector<int> OpenDescriptors()
{
    std::vector<int> open;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            open.push_back(fd);
    return open;
}

}  // namespace

// The fallback is a pipe, both ends non-blocking and close-on-exec; Set never blocks, however
// often it comes before a Reset, and one Reset takes everything.
TEST(SystemExtensions, EventDescriptorFallbackIsAPipeThatNeverBlocksAndResetsInFull)
{
    const std::vector<int> before = OpenDescriptors();
    EventDescriptor event;
    ASSERT_GE(event.Descriptor(), 0) << event.OpenError();
    std::vector<int> ends;
    for (int fd : OpenDescriptors())
        if (std::find(before.begin(), before.end(), fd) == before.end())
            ends.push_back(fd);
    ASSERT_EQ(ends.size(), 2u);
    for (int fd : ends) {
        SCOPED_TRACE(fd);
        struct stat info;
        ASSERT_EQ(fstat(fd, &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
        EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, O_NONBLOCK);
    }

    EXPECT_FALSE(Readable(event.Descriptor()));
    event.Reset();  // nothing to take: returns at once
    ZephTest::FinishesWithin("100000 Sets", [&] {
        for (int i = 0; i < 100000; ++i)
            event.Set();
    });
    EXPECT_TRUE(Readable(event.Descriptor()));
    event.Reset();
    EXPECT_FALSE(Readable(event.Descriptor()));
    event.Set();
    EXPECT_TRUE(Readable(event.Descriptor()));
}

// Without a way to ask, the pipe keeps the system's buffer; the environment is read as it is.
TEST(SystemExtensions, PipeBufferAndEnvironmentFallbacks)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
#ifdef F_GETPIPE_SZ
    const int size = fcntl(ends[1], F_GETPIPE_SZ);
#endif
    EXPECT_FALSE(Korvel::Detail::GrowPipeBuffer(ends[1], 1 << 20));
#ifdef F_GETPIPE_SZ
    EXPECT_EQ(fcntl(ends[1], F_GETPIPE_SZ), size);
#endif
    close(ends[0]);
    close(ends[1]);

    ASSERT_EQ(setenv("ZEPHTEST_SEAM", "value", 1), 0);
    EXPECT_STREQ(Korvel::Detail::TrustedEnvironment("ZEPHTEST_SEAM"), "value");
    unsetenv("ZEPHTEST_SEAM");
    EXPECT_EQ(Korvel::Detail::TrustedEnvironment("ZEPHTEST_SEAM"), nullptr);
}

// The library's own choice: the pipe in a POSIX-only build, the eventfd on Linux otherwise;
// either way the descriptor is readable exactly while Drain has something to report.
TEST(SystemExtensions, TheLibrarysDescriptorIsAPipeExactlyInThePosixOnlyBuild)
{
    using Kind = DataAvailableDescriptor::Kind;
    DataAvailableDescriptor descriptor;
    const int fd = descriptor.Descriptor();
    struct stat info;
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_EQ(S_ISFIFO(info.st_mode), kLibraryPosixOnly);
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, O_NONBLOCK);

    // More announcements than a pipe holds, with no Drain between them (a reader that took
    // its frames without draining): the announcer never blocks, one Drain clears them all.
    ZephTest::FinishesWithin("20000 announcements", [&] {
        for (unsigned long long size = 1; size <= 20000; ++size)
            descriptor.OnDataAvailable(size);
    });
    const auto frame = descriptor.Drain();
    EXPECT_EQ(frame.kind, Kind::Frame);
    EXPECT_EQ(frame.size, 20000u);
    EXPECT_FALSE(Readable(fd));
    descriptor.OnWorkerEnded(Korvel::Core::WorkerEnd::EndOfInput);
    for (int drain = 0; drain < 2; ++drain) {
        EXPECT_TRUE(Readable(fd));
        EXPECT_EQ(descriptor.Drain().kind, Kind::Ended);
    }
}
