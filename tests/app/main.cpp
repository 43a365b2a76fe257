#include <QApplication>
#include <gtest/gtest.h>

// The window and the message boxes need a widget application. Test discovery runs this program
// without CTest's environment, so offscreen is the default here too: no display needed.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
