// The creation date as text: real files on this machine's file system, and the fixed pattern
// on chosen time values under a fixed zone and locale.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include "FileDateLayer.h"
#include "IO/ZephIO.h"
#include "support/TempDir.h"

using Korvel::Core::GetFileCreationDateString;
using Korvel::Platform::DateTextFormatter;

namespace {

// Sets ICU's default locale (and zone, when given) and puts the old ones back afterwards.
struct IcuDefaults {
    icu::Locale locale = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> zone{icu::TimeZone::createDefault()};
    UErrorCode status = U_ZERO_ERROR;
    IcuDefaults(const char* name, const char* zoneId)
    {
        icu::Locale::setDefault(icu::Locale(name), status);
        if (zoneId)
            icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(zoneId));
    }
    ~IcuDefaults()
    {
        icu::Locale::setDefault(locale, status);
        icu::TimeZone::adoptDefault(zone.release());
    }
};

bool HasBirthTime(const std::string& path)
{
    struct statx info = {};
    return statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &info) == 0 && (info.stx_mask & STATX_BTIME);
}

// Local time by the C library, with ISO week-based years (the rule of de_DE) and hours 1 to 24.
std::string LocalText(time_t seconds)
{
    struct tm local = {};
    localtime_r(&seconds, &local);
    char text[64];
    size_t length = strftime(text, sizeof text, "%G-%m-%d ", &local);
    snprintf(text + length, sizeof text - length, "%02d:%02d:%02d", local.tm_hour ? local.tm_hour : 24, local.tm_min,
             local.tm_sec);
    return text;
}

}  // namespace

TEST(FileCreationDate, FreshFileAndFolderShowNowInLocalTimeAndMissingOnesNothing)
{
    IcuDefaults isoWeeks("de_DE", nullptr);
    ZephTest::TempDir dir;
    const time_t before = time(nullptr);
    const std::string file = dir.File("fresh.txt");
    std::ofstream(file) << "x";
    const std::string folder = dir.File("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const time_t after = time(nullptr);

    for (const std::string& path : {file, folder}) {
        std::string text = GetFileCreationDateString(path);
        if (!HasBirthTime(path)) {
            EXPECT_EQ(text, "") << path;
            continue;
        }
        bool matched = false;
        for (time_t t = before - 1; t <= after + 1; ++t)
            matched = matched || text == LocalText(t);
        EXPECT_TRUE(matched) << path << ": " << text << ", expected about " << LocalText(before);
    }
    EXPECT_EQ(GetFileCreationDateString(dir.File("missing")), "");
    EXPECT_EQ(GetFileCreationDateString(dir.File("missing/below")), "");
    EXPECT_EQ(GetFileCreationDateString(Korvel::ioPath()), "");
}

TEST(FileCreationDate, PatternGivesWeekBasedYearAndHour24)
{
    IcuDefaults berlin("de_DE", "Europe/Berlin");
    DateTextFormatter formatter(Korvel::Platform::kCreationDatePattern);
    // Monday 30 December 2024, 00:15 in Berlin: week 1 of 2025, the hour after midnight as 24.
    EXPECT_EQ(formatter.Format(1735514100000.0), std::optional<std::string>("2025-12-30 24:15:00"));
    // Friday 1 January 2021, 12:00:59.999 in Berlin: still week 53 of 2020; seconds are cut.
    EXPECT_EQ(formatter.Format(1609498859999.0), std::optional<std::string>("2020-01-01 12:00:59"));
    // 3 July 2023, 09:05:03 summer time.
    EXPECT_EQ(formatter.Format(1688367903000.0), std::optional<std::string>("2023-07-03 09:05:03"));

    // The placeholder is read in the default zone (Berlin was one hour ahead of UTC in 1904).
    EXPECT_EQ(formatter.Parse("1904-01-01 00:00:00"), std::optional<double>(-2082848400000.0));
    EXPECT_EQ(formatter.Parse("1904-13-45 00:00:00"), std::nullopt);  // strict: no rolling over
}
