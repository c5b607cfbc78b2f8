#include "DriverProgram.h"

#include "ApplicationMain.h"
#include "Scenarios.h"
#include "VeyraNetworkAssistantApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <memory>

using namespace veyra;

namespace {

struct Choice {
    QString scenario;
    e2e::DriverOptions options;
};

std::optional<Choice> parse(int argc, char *argv[], const QStringList &scenarios)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const auto option = [&](const char *name) {
        QCommandLineOption made(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        parser.addOption(made);
        return made;
    };
    const QCommandLineOption scenario = option("scenario"), screenshots = option("screenshots"),
                             state = option("network-state"), site = option("site"), account = option("account"),
                             password = option("password"), world = option("world"), action = option("action"),
                             count = option("count"), kioslaverc = option("kioslaverc");
    const QCommandLineOption signIn(QStringLiteral("sign-in"));
    parser.addOption(signIn);
    if (!parser.parse(arguments))
        return std::nullopt;
    Choice choice { parser.value(scenario),
        { parser.value(screenshots), parser.value(state), parser.value(site), parser.value(account),
            parser.value(password), parser.value(world), parser.value(count).toInt(), parser.value(kioslaverc),
            parser.value(action), parser.isSet(signIn) } };
    // Which world it is: the stand-in networksetup's, or a desktop's.
    if (!scenarios.contains(choice.scenario)
        || choice.options.networkState.isEmpty() == choice.options.kioslaverc.isEmpty())
        return std::nullopt;
    return choice;
}

} // namespace

int e2e::runDriver(
    int argc, char *argv[], const QMap<QString, MakeScenario> &extra, const std::function<void()> &atStart)
{
    QMap<QString, MakeScenario> scenarios { { QStringLiteral("tour"), make<Tour>() },
        { QStringLiteral("faults"), make<Faults>() }, { QStringLiteral("crash-trial"), make<CrashTrial>() },
        { QStringLiteral("start"), make<StartAfterCrash>() }, { QStringLiteral("kernel-kills"), make<KernelKills>() },
        { QStringLiteral("soak"), make<Soak>() } };
    scenarios.insert(extra);
    const std::optional<Choice> choice = parse(argc, argv, scenarios.keys());
    if (!choice) {
        fprintf(stderr,
            "usage: %s --scenario tour|faults|crash-trial|start|kernel-kills --network-state FILE|--kioslaverc FILE "
            "...\n",
            argv[0]);
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
        *driver = scenarios[choice->scenario](app, *core, choice->options);
        (*driver)->run();
    });
    const bool passed = *driver && (*driver)->passed();
    driver->reset();
    return status == 0 && passed ? 0 : 1;
}
