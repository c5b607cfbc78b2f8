#include "Theme.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// A view that asks for a symbol without a bundled drawing fails the test that showed it.
void failOnMissingSymbols(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("no drawing for symbol")))
        ADD_FAILURE() << message.toStdString();
    else if (type != QtDebugMsg && type != QtInfoMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

// Widgets need a QApplication; the offscreen platform unless a display was chosen on purpose.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    veyra::ui::theme::apply(app);
    qInstallMessageHandler(failOnMissingSymbols);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
