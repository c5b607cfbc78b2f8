// The application with a scripted person at the keyboard: the same start-up as the product's
// executable, then the tour through its window. It takes the product's place as the main
// executable of a test copy of the bundle, so the root helper serves it as it would the
// application.
//
//   VeyraNetworkAssistant --screenshots DIR --network-state FILE --site URL --account NUMBER --password TEXT
#include "ApplicationMain.h"
#include "Tour.h"
#include "VeyraNetworkAssistantApp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <memory>

using namespace veyra;

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption screenshots(QStringLiteral("screenshots"), QStringLiteral("Folder for the screenshots."), QStringLiteral("dir"));
    const QCommandLineOption state(QStringLiteral("network-state"), QStringLiteral("The stand-in's state file."), QStringLiteral("file"));
    const QCommandLineOption site(QStringLiteral("site"), QStringLiteral("A web site of the world."), QStringLiteral("url"));
    const QCommandLineOption account(QStringLiteral("account"), QStringLiteral("Number to register."), QStringLiteral("number"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Its password."), QStringLiteral("text"));
    parser.addOptions({ screenshots, state, site, account, password });
    parser.parse(arguments);
    e2e::TourOptions options { parser.value(screenshots), parser.value(state), parser.value(site), parser.value(account),
        parser.value(password) };
    for (const QString &value : { options.screenshots, options.networkState, options.siteUrl, options.account, options.password })
        if (value.isEmpty()) {
            fprintf(stderr, "usage: %s --screenshots DIR --network-state FILE --site URL --account NUMBER --password TEXT\n", argv[0]);
            return 2;
        }

    MihomoManager *core = nullptr;
    auto tour = std::make_shared<std::unique_ptr<e2e::Tour>>();
    const auto collaborators = [&] {
        AppCollaborators made = AppCollaborators::product();
        core = made.core.get();
        made.openURL = [tour](const QUrl &url) { return *tour && (*tour)->openInBrowser(url.toString()); };
        return made;
    };
    const int status = ui::runApplication(argc, argv, collaborators, [&](ui::VeyraNetworkAssistantApp &app) {
        *tour = std::make_unique<e2e::Tour>(app, *core, options);
        (*tour)->run();
    });
    const bool passed = *tour && (*tour)->passed();
    tour->reset();
    return status == 0 && passed ? 0 : 1;
}
