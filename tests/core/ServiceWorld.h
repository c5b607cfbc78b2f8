#pragma once

#include "KeyringSession.h"
#include "ServiceSimulator.h"
#include "TestModel.h"
#include "TestSupport.h"

#include "KernelTestSupport.h"

#include <QTemporaryDir>

#include <memory>

namespace veyra::test {

inline const QString sessionAccount = QString::fromLatin1(KeychainStore::sessionAccount);
inline const QString lineAccount = QString::fromLatin1(KeychainStore::officialLineAccount);
inline constexpr const char *member = "13800138000";
inline constexpr const char *memberPassword = "password123";

// The model against the service simulator over real TLS and a private keyring; no kernel and
// no helper (connecting is not what these tests are about).
class ServiceWorld : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        ASSERT_TRUE(keyring.running());
        ASSERT_TRUE(simulator.started());
        model = makeModel();
    }
    void TearDown() override
    {
        // An operation a test started from a button runs on by itself; the last steps of one
        // that the test did not wait for get a moment to finish before the model goes.
        if (model) {
            await(model->flushStorage());
            QEventLoop settle;
            QTimer::singleShot(150, &settle, &QEventLoop::quit);
            settle.exec();
        }
        model.reset();
        DataFolderTest::TearDown();
    }
    WorldSeams seams() const
    {
        return { bundledKernelDirectory(), QStringLiteral("http://127.0.0.1:9/generate_204"),
            fixtures.filePath(QStringLiteral("no-helper.sock")), QStringLiteral("/bin/false"),
            fixtures.filePath(QStringLiteral("defaults.ini")), QStringLiteral("account-test-notifications"),
            simulator.clientOptions() };
    }
    // A model over fresh collaborators; browser openings are recorded, not performed, and the
    // order-status waits are a few milliseconds each (their table has a test of its own).
    std::unique_ptr<AppModel> makeModel()
    {
        AppCollaborators made = collaboratorsFor(seams());
        made.openURL = [this](const QUrl &url) {
            opened << url;
            return browserOpens;
        };
        made.pollDelay = [this](int attempt) {
            pollAttempts << attempt;
            return std::chrono::milliseconds(20);
        };
        made.clock = [this] { return now; };
        return std::make_unique<AppModel>(std::move(made));
    }
    // Creates the member's account on the service with the given fields (whether the membership
    // is active, its plan, its traffic) and signs in with it; the plans are loaded when asked.
    void signIn(json::Json fields = json::Json::object(), bool loadPlans = false)
    {
        fields["account"] = member;
        fields["password"] = memberPassword;
        simulator.admin(QStringLiteral("accounts"), fields);
        await(model->login(QString::fromLatin1(member), QString::fromLatin1(memberPassword), false));
        ASSERT_TRUE(model->user()) << model->authenticationErrorMessage().value_or(QString()).toStdString();
        if (loadPlans) {
            await(model->refreshPlans(false));
            ASSERT_FALSE(model->plans().isEmpty());
        }
    }
    // An offered plan by its id; an empty plan when it is not offered.
    Plan plan(const QString &id) const
    {
        for (const Plan &candidate : model->plans())
            if (candidate.id == id)
                return candidate;
        return {};
    }
    KeychainStore keychain() const
    {
        return KeychainStore(UserDefaults(fixtures.filePath(QStringLiteral("defaults.ini"))));
    }
    std::optional<QString> storedToken() const { return keychain().load(sessionAccount); }
    // The requests the simulator saw for a path, oldest first.
    QList<json::Json> requestsTo(const std::string &target)
    {
        QList<json::Json> found;
        for (const json::Json &request : simulator.requests())
            if (request.at("target") == target)
                found << request;
        return found;
    }

    QTemporaryDir fixtures;
    KeyringSession keyring;
    ServiceSimulator simulator { { QStringLiteral("--public-url"),
        QStringLiteral("https://%1:8443").arg(QLatin1String(ServiceSimulator::lineHost)) } };
    QList<QUrl> opened;
    bool browserOpens = true;
    QList<int> pollAttempts;
    QDateTime now = QDateTime::currentDateTimeUtc();
    std::unique_ptr<AppModel> model;
};

} // namespace veyra::test
