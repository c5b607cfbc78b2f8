#include "StatusMenuView.h"

#include "AppModel.h"
#include "Icons.h"
#include "Navigation.h"
#include "NodeFilters.h"

#include <QMenu>

namespace veyra::ui {

namespace {

const QString checkmark = QStringLiteral("checkmark");

struct ModeEntry {
    ConnectionMode mode;
    const char *title;
};
const ModeEntry modeEntries[] = {
    { ConnectionMode::rule, "规则分流" },
    { ConnectionMode::global, "全局代理" },
    { ConnectionMode::direct, "直连" },
};

} // namespace

StatusMenuView::StatusMenuView(AppModel &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setTitle(QStringLiteral("维拉网络助手"));
    QObject::connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusMenuView::rebuild);
    QObject::connect(&m_model, &AppModel::stateChanged, this, &StatusMenuView::rebuild);
    rebuild();
}

StatusMenuView::~StatusMenuView()
{
    for (const QPointer<QMenu> &submenu : std::as_const(m_submenus))
        delete submenu.data();
}

QString StatusMenuView::nodeTitle(const NodeItem &node)
{
    return node.flag + QLatin1Char(' ') + node.name + QStringLiteral(" · ") + latencyText(node);
}

QString StatusMenuView::contentKey() const
{
    // Everything the entries show or depend on; traffic figures, which change every second
    // while connected, are not among them.
    const AppSettings &settings = m_model.settings();
    QStringList key { QString::number(static_cast<int>(m_model.accessState())), QString::number(m_model.isBusy()),
        QString::number(m_model.isConnected()), QString::number(m_model.isCoreRunning()),
        QString::number(m_model.isTesting()), rawValue(settings.proxyMode), QString::number(settings.smartSelection),
        settings.selectedNode, m_model.activeNodeName(), m_model.connectionQualityText() };
    for (const NodeItem &node : m_model.nodes())
        key << node.region << nodeTitle(node);
    return key.join(QChar(0x1f));
}

void StatusMenuView::rebuild()
{
    // Rebuilding only for a real change also keeps an open submenu open.
    const QString key = contentKey();
    if (key == m_contentKey && !m_menu->actions().isEmpty())
        return;
    m_contentKey = key;

    // An entry's own action may be what changed the model, and it is still being delivered:
    // the old entries go once control is back in the event loop, not here.
    for (QAction *action : m_menu->actions()) {
        m_menu->removeAction(action);
        if (action->parent() == this)
            action->deleteLater();
    }
    for (const QPointer<QMenu> &submenu : std::as_const(m_submenus))
        if (submenu)
            submenu->deleteLater();
    m_submenus.clear();

    QObject::connect(addEntry(m_menu.get(), QStringLiteral("显示主窗口")), &QAction::triggered, this,
        &StatusMenuView::showMainWindowRequested);
    m_menu->addSeparator()->setParent(this);

    switch (m_model.accessState()) {
    case AppAccessState::signedOut:
        addSignedOutEntries();
        break;
    case AppAccessState::signedIn:
        addSignedInEntries();
        break;
    case AppAccessState::member:
        addMemberEntries();
        break;
    }

    m_menu->addSeparator()->setParent(this);
    QObject::connect(addEntry(m_menu.get(), QStringLiteral("退出维拉网络助手")), &QAction::triggered, this,
        &StatusMenuView::quitRequested);
}

void StatusMenuView::addSignedOutEntries()
{
    // The sheet belongs to the main window, so the window comes forward with it.
    const auto signIn = [this](AuthenticationMode mode) {
        openAuthentication(m_model, mode);
        emit showMainWindowRequested();
    };
    QObject::connect(addEntry(m_menu.get(), QStringLiteral("注册账号"), QStringLiteral("person.badge.plus")),
        &QAction::triggered, this, [signIn] { signIn(AuthenticationMode::registration); });
    QObject::connect(
        addEntry(m_menu.get(), QStringLiteral("登录账号"), QStringLiteral("person.crop.circle.badge.checkmark")),
        &QAction::triggered, this, [signIn] { signIn(AuthenticationMode::login); });
}

void StatusMenuView::addSignedInEntries()
{
    QObject::connect(addEntry(m_menu.get(), QStringLiteral("会员未生效 · 查看套餐"), QStringLiteral("lock.fill")),
        &QAction::triggered, this, [this] {
            m_model.setSelectedPage(AppPage::membership);
            emit showMainWindowRequested();
        });
    QAction *refresh = addEntry(m_menu.get(), QStringLiteral("刷新会员状态"));
    refresh->setEnabled(!m_model.isBusy());
    QObject::connect(refresh, &QAction::triggered, this, [this] { m_model.refreshAccount(false); });
    QObject::connect(
        addEntry(m_menu.get(), QStringLiteral("退出登录")), &QAction::triggered, this, [this] { m_model.logout(); });
}

void StatusMenuView::addMemberEntries()
{
    const bool busy = m_model.isBusy();
    const bool connected = m_model.isConnected();

    QAction *connection = connected
        ? addEntry(m_menu.get(), QStringLiteral("已连接 · 点击断开"), QStringLiteral("checkmark.circle.fill"))
        : addEntry(m_menu.get(), QStringLiteral("未连接 · 点击连接"), QStringLiteral("circle"));
    connection->setEnabled(!busy);
    QObject::connect(connection, &QAction::triggered, this, [this] { toggleConnection(m_model); });

    QMenu *modes = addSubmenu(m_menu.get(), QStringLiteral("出站模式"));
    modes->menuAction()->setEnabled(!busy);
    for (const ModeEntry &entry : modeEntries) {
        const ConnectionMode mode = entry.mode;
        QAction *action = addEntry(
            modes, QString::fromUtf8(entry.title), m_model.settings().proxyMode == mode ? checkmark : QString());
        action->setEnabled(!busy);
        QObject::connect(action, &QAction::triggered, this, [this, mode] { m_model.updateProxyMode(mode); });
    }

    m_menu->addSection(QStringLiteral("策略组"))->setParent(this);
    const QList<NodeItem> nodes = sortedNodes(m_model.nodes());
    QMenu *choice = addSubmenu(m_menu.get(), QStringLiteral("节点选择"));
    QAction *smart
        = addEntry(choice, QStringLiteral("智能优选"), m_model.settings().smartSelection ? checkmark : QString());
    QObject::connect(smart, &QAction::triggered, this, [this] { m_model.setSmartSelection(true); });
    if (nodes.isEmpty())
        addEntry(choice, QStringLiteral("连接后加载节点"))->setEnabled(false);
    else
        addNodeEntries(choice, nodes);

    QMenu *byRegion = addSubmenu(m_menu.get(), QStringLiteral("按地区选择"));
    if (nodes.isEmpty())
        addEntry(byRegion, QStringLiteral("连接后加载地区"))->setEnabled(false);
    for (const QString &region : nodeRegions(nodes))
        addNodeEntries(addSubmenu(byRegion, region), filteredNodes(nodes, {}, region));

    m_menu->addSeparator()->setParent(this);
    const auto showNodesPage = [this] {
        m_model.setSelectedPage(AppPage::nodes);
        emit showMainWindowRequested();
    };
    QObject::connect(addEntry(m_menu.get(), m_model.activeNodeName(), QStringLiteral("location.fill")),
        &QAction::triggered, this, showNodesPage);
    const QString quality = m_model.isTesting() ? QStringLiteral("正在测速…") : m_model.connectionQualityText();
    QObject::connect(
        addEntry(m_menu.get(), quality, QStringLiteral("speedometer")), &QAction::triggered, this, showNodesPage);
    QAction *retest = addEntry(m_menu.get(), QStringLiteral("重新测速"));
    retest->setEnabled(m_model.isCoreRunning() && !m_model.isTesting());
    QObject::connect(retest, &QAction::triggered, this, [this] { m_model.testAllNodes(); });

    m_menu->addSeparator()->setParent(this);
    QObject::connect(
        addEntry(m_menu.get(), QStringLiteral("退出登录")), &QAction::triggered, this, [this] { m_model.logout(); });
}

void StatusMenuView::addNodeEntries(QMenu *into, const QList<NodeItem> &nodes)
{
    const AppSettings &settings = m_model.settings();
    for (const NodeItem &node : nodes) {
        const bool marked = !settings.smartSelection && settings.selectedNode == node.name;
        QAction *action = addEntry(into, nodeTitle(node), marked ? checkmark : QString());
        QObject::connect(action, &QAction::triggered, this, [this, node] { m_model.selectNode(node); });
    }
}

QMenu *StatusMenuView::addSubmenu(QMenu *into, const QString &title)
{
    auto *submenu = new QMenu(title);
    m_submenus << submenu;
    into->addMenu(submenu);
    return submenu;
}

QAction *StatusMenuView::addEntry(QMenu *into, const QString &text, const QString &symbol)
{
    auto *action = new QAction(text, this);
    // The symbol's name stays on the entry too, for whoever reads the menu without looking.
    action->setProperty("symbol", symbol);
    if (!symbol.isEmpty())
        action->setIcon(symbolIcon(symbol));
    into->addAction(action);
    return action;
}

} // namespace veyra::ui
