// GoogleTest runner with a QApplication, so logic that uses Qt's event loop,
// timers and sockets can be exercised directly. Each test gets its own
// settings folder through XDG_CONFIG_HOME (see TempSettings in support/).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
