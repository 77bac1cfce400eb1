// Exception classes, details, throw locations and their diagnostic text.
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

const unsigned char kBytes[10] = {};

IOException FailedSeek(unsigned long long position)
{
    auto input = DataInputMemory::Create(kBytes, sizeof kBytes);
    try {
        input->SetPosition(position);
    } catch (const IOException& e) {
        return e;
    }
    ADD_FAILURE() << "SetPosition did not throw";
    return IOException();
}

__attribute__((noinline)) void InnerFrame()
{
    throw AddStack(std::invalid_argument("volumePath is empty"));
}

}  // namespace

TEST(Exceptions, FailedSeekIsCaughtByEveryBaseAndCarriesOnlyTheSeekDetail)
{
    auto input = DataInputMemory::Create(kBytes, sizeof kBytes);
    EXPECT_THROW(input->SetPosition(11), Korvel::Exception);
    EXPECT_THROW(input->SetPosition(11), CoreException);
    EXPECT_THROW(input->SetPosition(11), std::exception);
    EXPECT_THROW(input->SetPosition(11), boost::exception);

    IOException e = FailedSeek(11);
    const unsigned long long* seek = boost::get_error_info<IOException::SeekInfo>(e);
    ASSERT_NE(seek, nullptr);
    EXPECT_EQ(*seek, 11u);
    EXPECT_EQ(boost::get_error_info<CallStackInfo>(e), nullptr);
    EXPECT_EQ(boost::get_error_info<DescriptionInfo>(e), nullptr);
}

TEST(Exceptions, ThrowLocationNamesTheBareFunction)
{
    IOException e = FailedSeek(42);
    const char* const* function = boost::get_error_info<boost::throw_function>(e);
    ASSERT_NE(function, nullptr);
    EXPECT_STREQ(*function, "SetPosition");
    const char* const* file = boost::get_error_info<boost::throw_file>(e);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(std::string(*file).find("DataInputMemory.cpp"), std::string::npos);
    EXPECT_NE(boost::get_error_info<boost::throw_line>(e), nullptr);
}

TEST(Exceptions, DiagnosticTextHasOneLinePerDetail)
{
    IOException e = FailedSeek(120);
    std::string report = boost::diagnostic_information(e);
    EXPECT_NE(report.find("[Korvel::Core::IOException::TagSeek*] = 120\n"), std::string::npos) << report;

    IOException described;
    described << DescriptionInfo("Failed to open input pipe") << SystemErrorCodeInfo(2);
    report = boost::diagnostic_information(described);
    EXPECT_NE(report.find("[Korvel::TagDescription*] = Failed to open input pipe\n"), std::string::npos) << report;
    EXPECT_NE(report.find("[Korvel::TagSystemErrorCode*] = 2\n"), std::string::npos) << report;
}

TEST(Exceptions, WhatIsTheStandardDefaultForEveryFailure)
{
    IOException a = FailedSeek(11);
    IOException b = FailedSeek(99);
    EXPECT_STREQ(a.what(), b.what());
    EXPECT_STREQ(a.what(), std::exception().what());
}

TEST(Exceptions, AddStackOnALibraryExceptionAttachesTheCallStackToItself)
{
    IOException e;
    const IOException& same = AddStack(e << DescriptionInfo("x"));
    EXPECT_EQ(&same, &e);
    const std::string* stack = boost::get_error_info<CallStackInfo>(e);
    ASSERT_NE(stack, nullptr);
    EXPECT_FALSE(stack->empty());
}

TEST(Exceptions, AddStackOnInvalidArgumentAppendsLineFeedAndStack)
{
    try {
        InnerFrame();
        FAIL() << "no throw";
    } catch (const std::invalid_argument& e) {
        std::string what = e.what();
        const std::string head = "volumePath is empty\n";
        ASSERT_EQ(what.compare(0, head.size(), head), 0) << what;
        EXPECT_GT(what.size(), head.size());
        EXPECT_NE(what.find("InnerFrame"), std::string::npos) << what;
    }
}

TEST(Exceptions, ThrownObjectCanBeClonedAndRethrown)
{
    auto input = DataInputMemory::Create(kBytes, sizeof kBytes);
    boost::exception_ptr saved;
    try {
        input->SetPosition(11);
    } catch (...) {
        saved = boost::current_exception();
    }
    ASSERT_TRUE(saved);
    try {
        boost::rethrow_exception(saved);
        FAIL();
    } catch (const IOException& e) {
        EXPECT_EQ(*boost::get_error_info<IOException::SeekInfo>(e), 11u);
    }
}

TEST(CallStack, ReportsOpenScopesOfTheCallingThreadOnly)
{
    std::string before = GetCallStack();
    EXPECT_EQ(before.find("ScopedWork"), std::string::npos);
    {
        StackDebugInfo::Descr scope("worker.cpp", "ScopedWork");
        std::string inside = GetCallStack();
        EXPECT_NE(inside.find("ScopedWork (worker.cpp)"), std::string::npos) << inside;
    }
    EXPECT_EQ(GetCallStack().find("ScopedWork"), std::string::npos);
}
