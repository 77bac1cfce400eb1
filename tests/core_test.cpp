// Reference counting, locks, exceptions, call stacks, logging and the helper libraries.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "IO/Detail/Log.h"
#include "IO/ZephIO.h"
#include "ZephHash/MD5Generate.h"
#include "support/Doubles.h"
#include "support/Fifo.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

const unsigned char kBytes[10] = {};

struct Costly {
    int* formatted;
};

std::ostream& operator<<(std::ostream& out, const Costly& c)
{
    ++*c.formatted;
    return out << "costly";
}

__attribute__((noinline)) void InnerFrame()
{
    throw AddStack(std::invalid_argument("volumePath is empty"));
}

// Sets TMPDIR while it lives.
struct ScopedTmpdir {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    explicit ScopedTmpdir(const std::string& value) { setenv("TMPDIR", value.c_str(), 1); }
    ~ScopedTmpdir() { old ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR"); }
};

// What `call` throws, on one line: the class, the function recorded and every detail attached.
std::string Carried(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Korvel::Exception& e) {
        const auto* function = boost::get_error_info<boost::throw_function>(e);
        std::string line = dynamic_cast<const IOException*>(&e) ? "IOException" : "CoreException";
        line += std::string(" in ") + (function ? *function : "?");
        if (const auto* description = boost::get_error_info<DescriptionInfo>(e))
            line += ", description " + *description;
        if (const auto* filename = boost::get_error_info<FilenameInfo>(e))
            line += ", file " + *filename;
        if (const auto* details = boost::get_error_info<DetailsInfo>(e))
            line += ", details " + *details;
        if (const int* code = boost::get_error_info<SystemErrorCodeInfo>(e))
            line += ", errno " + std::to_string(*code);
        if (const auto* seek = boost::get_error_info<IOException::SeekInfo>(e))
            line += ", seek " + std::to_string(*seek);
        if (const auto* stack = boost::get_error_info<CallStackInfo>(e))
            line += stack->empty() ? ", empty stack" : ", stack";
        return line;
    }
    return "no exception";
}

bool TryLockFromAnotherThread(ILockable& lockable)
{
    return std::async(std::launch::async, [&] { return lockable.TryLock() && (lockable.Unlock(), true); }).get();
}

}  // namespace

TEST(RefCountAndLock, CountSharedAcrossInterfacesAndThreadsLastReleaseDestroysOnceLocksExclude)
{
    int destroyed = 0;
    auto probe = ZephTest::ScriptedOutput::Create();
    probe->destroyed = &destroyed;
    boost::intrusive_ptr<IDataOutput> a = probe;
    probe.reset();
    boost::intrusive_ptr<IByteDataOutput> b = a.get();
    boost::intrusive_ptr<IRefCountable> c = a.get();
    EXPECT_EQ(c->GetRefCount(), 3);
    auto churn = [&] {
        for (int i = 0; i < 100000; ++i)
            boost::intrusive_ptr<IDataOutput> copy = a;
    };
    std::thread t1(churn), t2(churn);
    t1.join();
    t2.join();
    a.reset();
    b.reset();
    EXPECT_EQ(c->AddRef(), 2);
    EXPECT_EQ(c->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    c.reset();
    EXPECT_EQ(destroyed, 1);

    // A stream's lock: TryLock fails while another thread holds it; AutoLock lets go on a throw.
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(kBytes, sizeof kBytes);
    input->Lock();
    EXPECT_FALSE(TryLockFromAnotherThread(*input));
    input->Unlock();
    EXPECT_TRUE(TryLockFromAnotherThread(*input));
    try {
        AutoLock guard(input.get());
        EXPECT_FALSE(TryLockFromAnotherThread(*input));
        throw std::runtime_error("leave the scope");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(TryLockFromAnotherThread(*input));
}

TEST(CallStack, AddStackAttachesItAndDescrScopesShowOnTheirThreadOnly)
{
    IOException e;
    AddStack(e << DescriptionInfo("x"));  // in place
    const std::string* stack = boost::get_error_info<CallStackInfo>(e);
    EXPECT_TRUE(stack && !stack->empty());
    try {
        InnerFrame();
    } catch (const std::invalid_argument& error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("volumePath is empty\n", 0), 0u) << what;
        EXPECT_NE(what.find("InnerFrame"), std::string::npos) << what;
    }
    {
        StackDebugInfo::Descr scope("worker.cpp", "ScopedWork");
        EXPECT_NE(GetCallStack().find("ScopedWork (worker.cpp)"), std::string::npos) << GetCallStack();
        EXPECT_EQ(std::async(std::launch::async, [] { return GetCallStack(); }).get().find("ScopedWork"),
                  std::string::npos);
        {
            // Innermost first, as the frames above them are.
            StackDebugInfo::Descr inner("frame.cpp", "InnerWork");
            const std::string stack = GetCallStack();
            EXPECT_LT(stack.find("InnerWork (frame.cpp)"), stack.find("ScopedWork (worker.cpp)")) << stack;
        }
        EXPECT_EQ(GetCallStack().find("InnerWork"), std::string::npos);
        EXPECT_NE(GetCallStack().find("ScopedWork"), std::string::npos);
    }
    EXPECT_EQ(GetCallStack().find("ScopedWork"), std::string::npos);
}

TEST(Exceptions, EachThrowCarriesExactlyItsDetailsAndItsBareFunctionName)
{
    ZephTest::TempDir dir;
    const std::string absent = dir.File("absent");
    const auto text = [](int error) { return std::string(std::strerror(error)); };
    const unsigned char byte = 0;
    std::string two = "ab";
    ZephTest::Fifo fifo;
    const int reader = open(fifo.path.c_str(), O_RDWR | O_NONBLOCK);  // so opening it for writing cannot block
    ASSERT_GE(reader, 0);
    // A TMPDIR within the path limit, but no name in it is: no temporary name can be examined.
    std::string tooDeep = dir.Path();
    while (tooDeep.size() < 4060)
        tooDeep += "/.";
    const struct {
        std::function<void()> call;
        std::string carried;
    } throws[] = {
        {[&] { DataInputMemory::Create(&byte, 1)->SetPosition(2); }, "IOException in SetPosition, seek 2"},
        {[&] { DataInputString::Create(&two)->SetPosition(3); }, "IOException in SetPosition, seek 3"},
        {[&] { DataOutputString::Create(&two)->SetPosition(4); }, "IOException in SetPosition, seek 4"},
        {[&] { DataInputFile::Create(ioPath(absent)); },
         "IOException in Create, description Can not open file for reading, file " + absent + ", details " +
             text(ENOENT) + ", stack"},
        {[&] { DataOutputFile::Create(ioPath(dir.Path())); },
         "IOException in DataOutputFile, description " + text(EISDIR)},
        {[&] { DataOutputFile::Create(ioPath(fifo.path)); },
         "IOException in DataOutputFile, description " + text(ESPIPE)},
        {[&] { DataOutputFile::Create(ioPath(dir.File("out")))->SetPosition(1ULL << 63); },
         "IOException in SetPosition, description " + text(EINVAL)},
        {[&] { DataOutputFile::Create(ioPath("/dev/full"))->Write(&byte, 1); },
         "IOException in Write, description " + text(ENOSPC)},
        {[&] { DataBitInput(DataInputMemory::Create(&byte, 1)).ReadBitsInt(9); }, "IOException in ReadBitsInt"},
        {[&] { DataBitInput(DataInputMemory::Create(&byte, 0)).ReadBitsInt(1); }, "IOException in ReadBitsInt"},
        {[&] { DataInputPipe::Create(absent, false); },
         "IOException in DataInputPipe, description Failed to open input pipe, details " + text(ENOENT) + ", errno " +
             std::to_string(ENOENT)},
        {[&] { DataOutputPipe::Create(absent, false); },
         "IOException in DataOutputPipe, description Failed to open output pipe, details " + text(ENOENT) + ", errno " +
             std::to_string(ENOENT)},
        {[&] {
             ScopedTmpdir tmpdir(tooDeep);
             GenerateTempFileName();
         },
         "CoreException in SafeTempName, description Failed to generate temp name, stack"}};
    for (const auto& [call, carried] : throws)
        EXPECT_EQ(Carried(call), carried);
    close(reader);
}

TEST(Exceptions, DescribeExceptionPutsWhatEachThrowCarriesOnOneLine)
{
    ZephTest::TempDir dir;
    const std::string absent = dir.File("absent");
    const auto system = [](int error) {
        return ": " + std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
    };
    const unsigned char byte = 0;
    const struct {
        std::function<void()> call;
        std::string line;  // up to the line number of the throw
    } throws[] = {{[&] { DataInputFile::Create(ioPath(absent)); },
                   "Korvel::Core::IOException: Can not open file for reading: " + std::string(std::strerror(ENOENT)) +
                       ", file \"" + absent + "\", in Create at DataInputFile.cpp:"},
                  {[&] { DataOutputFile::Create(ioPath(dir.Path())); },
                   "Korvel::Core::IOException: " + std::string(std::strerror(EISDIR)) +
                       ", in DataOutputFile at DataOutputFile.cpp:"},
                  {[&] { DataInputPipe::Create(absent, false); },
                   "Korvel::Core::IOException: Failed to open input pipe" + system(ENOENT) +
                       ", in DataInputPipe at DataInputPipe.cpp:"},
                  {[&] { DataInputMemory::Create(&byte, 1)->SetPosition(2); },
                   "Korvel::Core::IOException, position 2, in SetPosition at DataInputMemory.cpp:"},
                  {[&] { DataBitInput(DataInputMemory::Create(&byte, 0)).ReadBitsInt(1); },
                   "Korvel::Core::IOException, in ReadBitsInt at DataBitInput.cpp:"},
                  {[] { DetermineDeviceIdForVolume(""); },
                   "std::invalid_argument: volumePath is empty, in DetermineDeviceIdForVolume at DeviceUtils.cpp:"}};
    for (const auto& [call, line] : throws) {
        try {
            call();
            ADD_FAILURE() << "no exception: " << line;
        } catch (const std::exception& e) {
            const auto* details = dynamic_cast<const boost::exception*>(&e);
            const int* thrownAt = details ? boost::get_error_info<boost::throw_line>(*details) : nullptr;
            EXPECT_EQ(DescribeException(e), line + std::to_string(thrownAt ? *thrownAt : 0));
        }
    }
    EXPECT_EQ(DescribeException(std::runtime_error("not the library's")), "not the library's");
}

TEST(Logging, WritesThroughGlogWithItsSourceAndFormatsNothingBelowTheLevel)
{
    int formatted = 0;
    ZephTest::LogCapture capture(google::GLOG_WARNING);
    KORVEL_LOG(INFO) << Costly{&formatted};
    EXPECT_EQ(formatted, 0);
    KORVEL_LOG(WARNING) << "about " << 3 << " things " << Costly{&formatted};
    EXPECT_EQ(formatted, 1);
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "about 3 things costly");
    EXPECT_EQ(lines[0].severity, google::GLOG_WARNING);
    EXPECT_EQ(lines[0].file, "core_test.cpp");
}

TEST(Siblings, MD5OfBytesThenTextAndNestedFolders)
{
    EXPECT_EQ(MD5Generate(std::vector<unsigned char>{'a'}, "bc"), "900150983cd24fb0d6963f7d28e17f72");  // "abc"

    EXPECT_EQ(ioPath(std::string("a/b/c")).parent_path().utf8string(), "a/b");
    ZephTest::TempDir dir;
    const ioPath nested(dir.File("one/two"));
    EXPECT_TRUE(ioPath::create_directories(nested));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("one/two")));
    EXPECT_FALSE(ioPath::create_directories(nested));  // already there: nothing to do
    EXPECT_FALSE(ioPath::create_directories(ioPath()));
}
