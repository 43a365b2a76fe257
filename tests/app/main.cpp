#include <QApplication>
#include <gtest/gtest.h>

// The window and the message boxes need a widget application; QT_QPA_PLATFORM=offscreen (set by
// CTest) lets it run without a display.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
