#include <QGuiApplication>
#include <gtest/gtest.h>

// Rendering a report needs a QGuiApplication (offscreen in the tests), no widgets.
int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
