#include "Theme.h"

#include <QApplication>

#include <gtest/gtest.h>

// Widgets need a QApplication; the offscreen platform unless a display was chosen on purpose. A
// view that asks for a symbol without a bundled drawing fails the test that showed it.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    veyra::ui::theme::apply(app);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtWarningMsg && message.startsWith(QLatin1String("no drawing for symbol")))
            ADD_FAILURE() << message.toStdString();
        else if (type != QtDebugMsg && type != QtInfoMsg)
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
