#include "StatusMenuView.h"

#include "Icons.h"
#include "Navigation.h"
#include "NodeFilters.h"

#include <QMenu>
#include <QSet>
#include <QTimer>

namespace veyra::ui {

namespace {

const QString checkmark = QStringLiteral("checkmark");
const QString copyTitle = QStringLiteral("复制终端代理命令");
const QString copiedTitle = QStringLiteral("已复制");
constexpr int copiedShownMs = 1500;

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
    // The state line heads the menu, readable but not a command.
    m_status = addEntry(m_menu.get(), m_model.statusMessage());
    m_status->setEnabled(false);
    m_menu->addSeparator()->setParent(this);
    QObject::connect(addEntry(m_menu.get(), QStringLiteral("显示主窗口")), &QAction::triggered, this,
        &StatusMenuView::showMainWindowRequested);
    m_menu->addSeparator()->setParent(this);
    QAction *quit = addEntry(m_menu.get(), QStringLiteral("退出维拉网络助手"));
    QObject::connect(quit, &QAction::triggered, this, &StatusMenuView::quitRequested);
    m_sectionEnd = m_menu->insertSeparator(quit);
    m_sectionEnd->setParent(this);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &StatusMenuView::render);
    render();
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

void StatusMenuView::render()
{
    m_status->setText(m_model.statusMessage());
    const AppAccessState state = m_model.accessState();
    if (m_builtFor != state)
        buildSection(state);
    if (state == AppAccessState::signedIn)
        renderSignedIn();
    else if (state == AppAccessState::member)
        renderMember();
}

void StatusMenuView::clearSection()
{
    // An entry's own action may be what changed the model, and it is still being delivered:
    // the old entries go once control is back in the event loop, not here.
    for (QAction *action : std::as_const(m_sectionActions)) {
        m_menu->removeAction(action);
        action->deleteLater();
    }
    m_sectionActions.clear();
    for (const QPointer<QMenu> &submenu : std::as_const(m_submenus))
        if (submenu)
            submenu->deleteLater();
    m_submenus.clear();
    m_refresh = m_connection = m_copyCommand = nullptr;
    m_modes = m_choice = m_byRegion = nullptr;
    m_modeEntries.clear();
    m_smart = m_noNodes = m_noRegions = nullptr;
    m_choiceEntries.clear();
    m_regions.clear();
    m_activeNode = m_quality = m_retest = nullptr;
}

void StatusMenuView::buildSection(AppAccessState state)
{
    clearSection();
    m_builtFor = state;
    switch (state) {
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
    m_refresh = addEntry(m_menu.get(), QStringLiteral("刷新会员状态"));
    QObject::connect(m_refresh, &QAction::triggered, this, [this] { m_model.refreshAccount(false); });
    QObject::connect(
        addEntry(m_menu.get(), QStringLiteral("退出登录")), &QAction::triggered, this, [this] { m_model.logout(); });
}

void StatusMenuView::renderSignedIn() { m_refresh->setEnabled(!m_model.isBusy()); }

void StatusMenuView::addMemberEntries()
{
    m_connection = addEntry(m_menu.get(), QString());
    QObject::connect(m_connection, &QAction::triggered, this, [this] { toggleConnection(m_model); });
    m_copyCommand = addEntry(m_menu.get(), copyTitle);
    QObject::connect(m_copyCommand, &QAction::triggered, this, [this] {
        copyTerminalProxyCommand(m_model);
        emit terminalCommandCopied();
        // Said on the entry too, for a menu opened again right away.
        m_showingCopied = true;
        m_copyCommand->setText(copiedTitle);
        QTimer::singleShot(copiedShownMs, this, [this] {
            m_showingCopied = false;
            if (m_copyCommand)
                m_copyCommand->setText(copyTitle);
        });
    });

    m_modes = addSubmenu(m_menu.get(), QStringLiteral("出站模式"));
    for (const ModeEntry &entry : modeEntries) {
        const ConnectionMode mode = entry.mode;
        QAction *action = addEntry(m_modes, QString::fromUtf8(entry.title));
        action->setData(static_cast<int>(mode));
        QObject::connect(action, &QAction::triggered, this, [this, mode] { m_model.updateProxyMode(mode); });
        m_modeEntries << action;
    }

    m_sectionActions << m_menu->insertSection(m_sectionEnd, QStringLiteral("策略组"));
    m_sectionActions.last()->setParent(this);
    m_choice = addSubmenu(m_menu.get(), QStringLiteral("节点选择"));
    m_smart = addEntry(m_choice, QStringLiteral("智能优选"));
    QObject::connect(m_smart, &QAction::triggered, this, [this] { m_model.setSmartSelection(true); });
    m_noNodes = addEntry(m_choice, QStringLiteral("连接后加载节点"));
    m_noNodes->setEnabled(false);
    m_byRegion = addSubmenu(m_menu.get(), QStringLiteral("按地区选择"));
    m_noRegions = addEntry(m_byRegion, QStringLiteral("连接后加载地区"));
    m_noRegions->setEnabled(false);

    addSeparator();
    const auto showNodesPage = [this] {
        m_model.setSelectedPage(AppPage::nodes);
        emit showMainWindowRequested();
    };
    m_activeNode = addEntry(m_menu.get(), QString(), QStringLiteral("location.fill"));
    QObject::connect(m_activeNode, &QAction::triggered, this, showNodesPage);
    m_quality = addEntry(m_menu.get(), QString(), QStringLiteral("speedometer"));
    QObject::connect(m_quality, &QAction::triggered, this, showNodesPage);
    m_retest = addEntry(m_menu.get(), QStringLiteral("重新测速"));
    QObject::connect(m_retest, &QAction::triggered, this, [this] { m_model.testAllNodes(); });

    addSeparator();
    QObject::connect(
        addEntry(m_menu.get(), QStringLiteral("退出登录")), &QAction::triggered, this, [this] { m_model.logout(); });
}

void StatusMenuView::renderMember()
{
    const bool busy = m_model.isBusy();
    const bool connected = m_model.isConnected();
    const AppSettings &settings = m_model.settings();

    m_connection->setText(connected ? QStringLiteral("已连接 · 点击断开") : QStringLiteral("未连接 · 点击连接"));
    setSymbol(m_connection, connected ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"));
    m_connection->setEnabled(!busy);
    m_copyCommand->setVisible(connected);
    if (!m_showingCopied)
        m_copyCommand->setText(copyTitle);

    m_modes->menuAction()->setEnabled(!busy);
    for (QAction *action : std::as_const(m_modeEntries)) {
        action->setEnabled(!busy);
        setSymbol(action, action->data().toInt() == static_cast<int>(settings.proxyMode) ? checkmark : QString());
    }

    const QList<NodeItem> nodes = sortedNodes(m_model.nodes());
    setSymbol(m_smart, settings.smartSelection ? checkmark : QString());
    m_noNodes->setVisible(nodes.isEmpty());
    // After the automatic choice and the placeholder.
    syncNodeEntries(m_choice, m_choiceEntries, nodes, 2);
    m_noRegions->setVisible(nodes.isEmpty());
    syncRegions(nodes);

    m_activeNode->setText(m_model.activeNodeName());
    m_quality->setText(m_model.isTesting() ? QStringLiteral("正在测速…") : m_model.connectionQualityText());
    m_retest->setEnabled(m_model.isCoreRunning() && !m_model.isTesting());
}

void StatusMenuView::syncNodeEntries(QMenu *menu, NodeEntries &entries, const QList<NodeItem> &nodes, int offset)
{
    const AppSettings &settings = m_model.settings();
    QSet<QString> present;
    QList<QAction *> wanted;
    for (const NodeItem &node : nodes) {
        present.insert(node.name);
        QAction *&action = entries[node.name];
        if (!action) {
            action = makeEntry(QString());
            QObject::connect(action, &QAction::triggered, this, [this, name = node.name] { selectNodeNamed(name); });
        }
        action->setText(nodeTitle(node));
        setSymbol(action, !settings.smartSelection && settings.selectedNode == node.name ? checkmark : QString());
        wanted << action;
    }
    for (auto it = entries.begin(); it != entries.end();) {
        if (present.contains(it.key())) {
            ++it;
            continue;
        }
        menu->removeAction(*it);
        (*it)->deleteLater();
        it = entries.erase(it);
    }
    // Only entries out of place move (a new latency may reorder a few); the rest stay put.
    for (int i = 0; i < wanted.size(); ++i) {
        const QList<QAction *> actions = menu->actions();
        const int at = offset + i;
        if (at < actions.size() && actions[at] == wanted[i])
            continue;
        menu->insertAction(at < actions.size() ? actions[at] : nullptr, wanted[i]);
    }
}

void StatusMenuView::syncRegions(const QList<NodeItem> &nodes)
{
    const QStringList regions = nodeRegions(nodes);
    for (auto it = m_regions.begin(); it != m_regions.end();) {
        if (regions.contains(it.key())) {
            ++it;
            continue;
        }
        if (it->menu) {
            m_byRegion->removeAction(it->menu->menuAction());
            it->menu->deleteLater();
        }
        it = m_regions.erase(it);
    }
    for (int i = 0; i < regions.size(); ++i) {
        const QString &region = regions[i];
        RegionMenu &entry = m_regions[region];
        if (!entry.menu) {
            // In sorted place, after the placeholder.
            const QList<QAction *> actions = m_byRegion->actions();
            const int at = 1 + i;
            entry.menu = addSubmenu(m_byRegion, region, at < actions.size() ? actions[at] : nullptr);
        }
        syncNodeEntries(entry.menu, entry.entries, filteredNodes(nodes, {}, region), 0);
    }
}

void StatusMenuView::selectNodeNamed(const QString &name)
{
    for (const NodeItem &node : m_model.nodes()) {
        if (node.name == name) {
            m_model.selectNode(node);
            return;
        }
    }
}

QMenu *StatusMenuView::addSubmenu(QMenu *into, const QString &title, QAction *before)
{
    auto *submenu = new QMenu(title);
    m_submenus << submenu;
    if (into == m_menu.get()) {
        m_menu->insertMenu(m_sectionEnd, submenu);
        m_sectionActions << submenu->menuAction();
    } else {
        into->insertMenu(before, submenu);
    }
    return submenu;
}

QAction *StatusMenuView::makeEntry(const QString &text, const QString &symbol)
{
    auto *action = new QAction(text, this);
    setSymbol(action, symbol);
    return action;
}

QAction *StatusMenuView::addEntry(QMenu *into, const QString &text, const QString &symbol)
{
    QAction *action = makeEntry(text, symbol);
    // The member's and the account's entries go before the final separator and quit; the
    // fixed head of the menu is built before that separator exists.
    if (into == m_menu.get() && m_sectionEnd) {
        m_menu->insertAction(m_sectionEnd, action);
        m_sectionActions << action;
    } else {
        into->addAction(action);
    }
    return action;
}

QAction *StatusMenuView::addSeparator()
{
    QAction *separator = m_menu->insertSeparator(m_sectionEnd);
    separator->setParent(this);
    m_sectionActions << separator;
    return separator;
}

void StatusMenuView::setSymbol(QAction *action, const QString &symbol)
{
    // The symbol's name stays on the entry too, for whoever reads the menu without looking.
    // The icon is only replaced on a real change: every replacement redraws the open menu.
    if (action->property("symbol").toString() == symbol && !action->property("symbol").isNull())
        return;
    action->setProperty("symbol", symbol);
    action->setIcon(symbol.isEmpty() ? QIcon() : symbolIcon(symbol));
}

} // namespace veyra::ui
