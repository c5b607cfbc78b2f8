#include "AppModelTestPeer.h"
#include "EmptyStateView.h"
#include "ModelWorld.h"
#include "NodeFilters.h"
#include "NodesView.h"
#include "ToggleSwitch.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace veyra;
using namespace veyra::test;
using namespace veyra::ui;

namespace {

QStringList pickerItems(const NodesView &view)
{
    QStringList items;
    for (int i = 0; i < view.regionPicker()->count(); ++i)
        items << view.regionPicker()->itemText(i);
    return items;
}

// The node names of the table's rows, as shown ("flag name").
QStringList rows(const NodesView &view)
{
    QStringList shown;
    if (!view.showsTable())
        return shown;
    for (int row = 0; row < view.table()->rowCount(); ++row)
        shown << view.table()->item(row, 0)->text();
    return shown;
}

QString shownName(const NodeItem &node)
{
    return node.flag + QLatin1Char(' ') + node.name;
}

// A choice in the region picker as the user makes it.
void pickRegion(NodesView &view, const QString &region)
{
    const int index = view.regionPicker()->findText(region);
    ASSERT_GE(index, 0) << region.toStdString();
    view.regionPicker()->setCurrentIndex(index);
    emit view.regionPicker()->activated(index);
}

// Typed where the keys exist on a test keyboard, else entered as an input method would.
void search(NodesView &view, const QString &text)
{
    view.searchField()->clear();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        QTest::keyClicks(view.searchField(), text);
    else
        view.searchField()->setText(text);
}

} // namespace

TEST(NodesView, StoppedWithoutNodesAsksToConnect)
{
    AppModel model;
    NodesView view(model);
    EXPECT_FALSE(view.showsTable());
    EXPECT_EQ(view.emptyState()->title(), "连接后查看节点");
    EXPECT_FALSE(findButton(&view, "刷新")->isEnabled());
    EXPECT_FALSE(findButton(&view, "全部测速")->isEnabled());
    EXPECT_EQ(pickerItems(view), QStringList { "全部" });
}

class NodesViewIntegration : public ModelWorld {
protected:
    // From now on the official line hands the kernel every node but those named (the
    // subscription document as the simulator serves it, with their entries cut out), and the
    // kernel has fetched it.
    void withdrawNodes(const QStringList &names)
    {
        std::string path;
        for (const json::Json &request : simulator->requests())
            if (request.at("target").get<std::string>().rfind("/sub/", 0) == 0)
                path = request.at("target").get<std::string>();
        ASSERT_FALSE(path.empty());
        const Fetched line = fetch(QUrl(simulator->origin() + QString::fromStdString(path)), simulator->certificates());
        ASSERT_EQ(line.status, 200);
        QStringList kept;
        const QStringList entries = QString::fromUtf8(line.body).split(QStringLiteral("  - name: "));
        for (const QString &entry : entries)
            if (!std::any_of(names.begin(), names.end(),
                    [&](const QString &name) { return entry.startsWith(QLatin1Char('"') + name + QLatin1Char('"')); }))
                kept << entry;
        const QString document = kept.join(QStringLiteral("  - name: "));
        simulator->fault(QString::fromStdString(path),
            { { "status", 200 }, { "body", document.toStdString() }, { "contentType", "text/yaml; charset=utf-8" } });
        // The kernel takes the new document at once rather than at its next interval.
        const QJsonObject providers
            = QJsonDocument::fromJson(await(Peer::core(*model).controller(QStringLiteral("providers/proxies"),
                                          QByteArrayLiteral("GET"), std::nullopt, model->settings())))
                  .object()
                  .value(QStringLiteral("providers"))
                  .toObject();
        ASSERT_FALSE(providers.isEmpty());
        for (const QString &provider : providers.keys())
            await(Peer::core(*model).controller(QStringLiteral("providers/proxies/") + MihomoManager::path(provider),
                QByteArrayLiteral("PUT"), std::nullopt, model->settings()));
    }
};

TEST_F(NodesViewIntegration, ListFilterSelectAndAVanishedRegion)
{
    AppModel &m = makeModel();
    NodesView view(m);
    view.resize(760, 560);
    EXPECT_EQ(view.emptyState()->title(), "连接后查看节点");

    // Between the kernel's start and the node list the page says the nodes are on their way.
    QString whileLoading;
    QObject::connect(&m, &AppModel::stateChanged, &view, [&] {
        if (m.isCoreRunning() && m.nodes().isEmpty() && !view.showsTable())
            whileLoading = view.emptyState()->title();
    });
    await(m.connect());
    ASSERT_TRUE(m.isConnected()) << m.alertMessage().value_or(QString()).toStdString();
    EXPECT_EQ(whileLoading, "官方节点仍在加载");

    ASSERT_TRUE(view.showsTable());
    EXPECT_EQ(rows(view).size(), m.nodes().size());
    EXPECT_EQ(pickerItems(view), regionChoices(m.nodes()));
    EXPECT_TRUE(pickerItems(view).contains("日本") && pickerItems(view).contains("香港"));
    EXPECT_TRUE(findButton(&view, "刷新")->isEnabled());
    EXPECT_TRUE(findButton(&view, "全部测速")->isEnabled());

    // The search narrows the rows (its rules have tests of their own).
    search(view, QStringLiteral(" SEOUL "));
    const auto nodeNamed = [&](const QString &name) {
        for (const NodeItem &node : m.nodes())
            if (node.name == name)
                return node;
        ADD_FAILURE() << name.toStdString();
        return NodeItem {};
    };
    EXPECT_EQ(rows(view), QStringList { shownName(nodeNamed("首尔 Seoul")) });
    search(view, QStringLiteral("no such node"));
    EXPECT_FALSE(view.showsTable());
    EXPECT_EQ(view.emptyState()->title(), "没有匹配的节点");
    view.searchField()->clear();
    ASSERT_TRUE(view.showsTable());

    // The latency column reads the shown latency.
    const NodeItem hongKong = nodeNamed("Hong Kong 02");
    const int hongKongRow = static_cast<int>(rows(view).indexOf(shownName(hongKong)));
    EXPECT_EQ(view.table()->item(hongKongRow, 1)->text(), latencyText(hongKong));

    // Smart selection is on: every row offers "选择".
    QPushButton *choose = view.selectionButton("Hong Kong 02");
    ASSERT_NE(choose, nullptr);
    EXPECT_EQ(choose->text(), "选择");
    EXPECT_TRUE(choose->isEnabled());
    EXPECT_EQ(choose->property("tint").toString(), "accent");

    // Pressing it: that row syncs and every other row waits; then the kernel and the settings
    // name the node, and its row reads "已选择".
    QTest::mouseClick(choose, Qt::LeftButton);
    ASSERT_EQ(m.selectingNodeName(), std::optional<QString>("Hong Kong 02"));
    EXPECT_EQ(choose->text(), "同步中");
    EXPECT_TRUE(choose->parentWidget()->findChild<QProgressBar *>()->isVisibleTo(&view));
    EXPECT_FALSE(view.selectionButton("东京 01")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !m.selectingNodeName() && m.settings().selectedNode == "Hong Kong 02"; }));
    EXPECT_EQ(selectedInKernel(), "Hong Kong 02");
    choose = view.selectionButton("Hong Kong 02");
    EXPECT_EQ(choose->text(), "已选择");
    EXPECT_FALSE(choose->isEnabled());
    EXPECT_EQ(choose->property("tint").toString(), "green");
    EXPECT_EQ(choose->accessibleName(), "Hong Kong 02 已选择");
    EXPECT_FALSE(choose->parentWidget()->findChild<QProgressBar *>()->isVisibleTo(&view));
    EXPECT_TRUE(view.selectionButton("东京 01")->isEnabled());
    EXPECT_FALSE(view.smartSelectionSwitch()->isChecked());

    // The switch turns smart selection back on.
    QTest::mouseClick(view.smartSelectionSwitch(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return m.settings().smartSelection; }));
    EXPECT_EQ(selectedInKernel(), "智能优选");
    EXPECT_EQ(view.selectionButton("Hong Kong 02")->text(), "选择");

    // A region filter, then a refresh after the line dropped that region's only node: the
    // choice stays, and so does the picker's entry for it, with nothing to match until the user
    // picks another region.
    pickRegion(view, "日本");
    EXPECT_EQ(rows(view), QStringList { shownName(nodeNamed("东京 01")) });
    withdrawNodes({ "东京 01" });
    QAbstractButton *refresh = findButton(&view, "刷新");
    QTest::mouseClick(refresh, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !regionChoices(m.nodes()).contains("日本"); }));
    ASSERT_FALSE(m.nodes().isEmpty());
    EXPECT_EQ(view.selectedRegion(), "日本");
    EXPECT_EQ(view.regionPicker()->currentText(), "日本");
    EXPECT_FALSE(view.showsTable());
    EXPECT_EQ(view.emptyState()->title(), "没有匹配的节点");
    pickRegion(view, "全部");
    EXPECT_TRUE(view.showsTable());
    EXPECT_EQ(rows(view).size(), m.nodes().size());
    EXPECT_EQ(pickerItems(view), regionChoices(m.nodes()));
}
