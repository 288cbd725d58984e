// Widget tests run without a display unless one is asked for.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window keeps its layout in the user's settings: the tests keep theirs apart.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Nubo"));
    app.setApplicationName(QStringLiteral("Nubo FTP Server"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
