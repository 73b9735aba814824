// The window under a German desktop's locale, which scripts/install-deps.sh
// generates.
#include "platform/forms/application.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The system's reasons that go into the window's English texts stay English
// UTF-8, and the numbers that libraries print and read through the C library
// keep their point; where the window shows a number, the user's comma stays.
TEST(Locale, TheSystemsReasonsAndTheLibrariesNumbersAreTheCLocales)
{
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "de_DE.UTF-8")
        << "the locale is not there: run scripts/install-deps.sh";
    EXPECT_STREQ(std::strerror(ENOENT), "No such file or directory");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 2.5);
    EXPECT_STREQ(text, "2.5");
    EXPECT_EQ(std::strtod("2.5", nullptr), 2.5);
    EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    ::unsetenv("LANGUAGE");
    forms::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
