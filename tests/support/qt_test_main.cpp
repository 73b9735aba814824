// main() of the tests that need Qt widgets: one forms::TApplication for the
// whole run, on the offscreen platform unless another one is asked for, in
// the C locale or the one QUILLON_TEST_LOCALE names.
#include "platform/forms/application.h"

#include <gtest/gtest.h>

#include <cstdlib>

#ifndef QUILLON_TEST_LOCALE
#define QUILLON_TEST_LOCALE "C.UTF-8"
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The C locale, whatever the desktop's: the window shows numbers with the
    // locale's decimal point (window_locale_tests runs under a German one).
    // Qt takes LANGUAGE before any locale but C itself.
    ::setenv("LC_ALL", QUILLON_TEST_LOCALE, 1);
    ::unsetenv("LANGUAGE");
    forms::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
