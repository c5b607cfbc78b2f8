#include "DriverProgram.h"

#include "ApplicationMain.h"
#include "Scenarios.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <memory>

using namespace veyra;

int e2e::runDriver(
    int argc, char *argv[], const QMap<QString, MakeScenario> &extra, const std::function<void()> &atStart)
{
    QMap<QString, MakeScenario> scenarios { { u"tour"_s, make<Tour>() }, { u"faults"_s, make<Faults>() },
        { u"crash-trial"_s, make<CrashTrial>() }, { u"start"_s, make<StartAfterCrash>() },
        { u"kernel-kills"_s, make<KernelKills>() }, { u"soak"_s, make<Soak>() } };
    scenarios.insert(extra);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    for (const char *name : { "scenario", "screenshots", "network-state", "site", "account", "password", "world",
             "action", "count", "kioslaverc" })
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), u"value"_s));
    parser.addOption(QCommandLineOption(u"sign-in"_s));
    const bool parsed = parser.parse(arguments);
    const auto value = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    const QString scenario = value("scenario");
    const DriverOptions options { value("screenshots"), value("network-state"), value("site"), value("account"),
        value("password"), value("world"), value("count").toInt(), value("kioslaverc"), value("action"),
        parser.isSet(u"sign-in"_s) };
    // Which world it is: the stand-in networksetup's, or a desktop's.
    if (!parsed || !scenarios.contains(scenario) || options.networkState.isEmpty() == options.kioslaverc.isEmpty()) {
        fprintf(stderr, "usage: %s --scenario NAME --network-state FILE|--kioslaverc FILE ...\n", argv[0]);
        return 2;
    }
    MihomoManager *core = nullptr;
    auto driver = std::make_shared<std::unique_ptr<e2e::Driver>>();
    const auto collaborators = [&] {
        // The application object exists now, the window not yet.
        if (atStart)
            atStart();
        AppCollaborators made = AppCollaborators::product();
        core = made.core.get();
        made.openURL = [driver](const QUrl &url) { return *driver && (*driver)->openInBrowser(url.toString()); };
        return made;
    };
    const int status = ui::runApplication(argc, argv, collaborators, [&](ui::VeyraNetworkAssistantApp &app) {
        *driver = scenarios[scenario](app, *core, options);
        (*driver)->run();
    });
    const bool passed = *driver && (*driver)->passed();
    driver->reset();
    return status == 0 && passed ? 0 : 1;
}
