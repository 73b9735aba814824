// main() of the tests that need Qt widgets: one forms::TApplication for the
// whole run, on the offscreen platform unless another one is asked for.
#include "platform/forms/application.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    forms::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
