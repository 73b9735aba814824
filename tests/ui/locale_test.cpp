// The window under a German desktop's locale, which scripts/install-deps.sh
// generates (the test main is built with QUILLON_TEST_LOCALE="de_DE.UTF-8").
#include "app/photos/photo_adder.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
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
    quillon::ThumbLoader::Result photo;
    photo.Path = "/photos/a.jpg";
    photo.FileBytes = 1'500'000;
    EXPECT_EQ(quillon::TPhotoAdder::TooltipText(photo), "a.jpg\n1,5 MB");
}
