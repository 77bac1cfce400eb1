// The logging helper: lines reach glog with file and line, and nothing is formatted
// when the severity is below glog's minimum level.
#include <ostream>

#include <gtest/gtest.h>

#include "IO/Detail/Log.h"
#include "support/LogCapture.h"

namespace {

struct Costly {
    int* formatted;
};

std::ostream& operator<<(std::ostream& out, const Costly& c)
{
    ++*c.formatted;
    return out << "costly";
}

}  // namespace

TEST(Logging, WritesThroughGlogWithSourceLocation)
{
    ZephTest::LogCapture capture;
    KORVEL_LOG(WARNING) << "about " << 3 << " things";
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "about 3 things");
    EXPECT_EQ(lines[0].severity, google::GLOG_WARNING);
    EXPECT_EQ(lines[0].file, "logging_test.cpp");
}

TEST(Logging, SkipsBuildingTheMessageBelowTheMinimumLevel)
{
    int formatted = 0;
    {
        ZephTest::LogCapture capture(google::GLOG_WARNING);
        KORVEL_LOG(INFO) << Costly{&formatted};
        EXPECT_EQ(formatted, 0);
        EXPECT_TRUE(capture.Lines().empty());
        KORVEL_LOG(ERROR) << Costly{&formatted};
        EXPECT_EQ(formatted, 1);
        EXPECT_EQ(capture.Count("costly"), 1u);
    }
}
