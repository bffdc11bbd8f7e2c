#include <QApplication>
#include <gtest/gtest.h>

// Window tests need one QApplication for the whole program.
int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
