// Nodes, latency and proxy mode. Every change goes to the kernel first and to the settings
// file second; when the file cannot be written, the kernel is put back.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "ConfigCompiler.h"
#include "Errors.h"
#include "Logger.h"
#include "Settled.h"

#include <algorithm>
#include <limits>

namespace veyra {

namespace {

QString automaticGroup()
{
    return QString::fromUtf8(ConfigCompiler::automaticGroup);
}

QByteArray modeBody(ConnectionMode mode)
{
    return QByteArray::fromStdString(json::Json { { "mode", json::str(rawValue(mode)) } }.dump());
}

} // namespace

void AppModel::applyLatencies(const QMap<QString, qint64> &delays)
{
    QList<NodeItem> measured = m_nodes;
    for (NodeItem &node : measured) {
        const qint64 delay = delays.value(node.name, -1);
        node.delay = static_cast<int>(std::clamp<qint64>(delay, -1, std::numeric_limits<int>::max()));
    }
    setNodes(measured);
}

QCoro::Task<> AppModel::refreshNodes()
{
    if (!membershipActive() || !m_isCoreRunning || m_isBusy)
        co_return;
    std::exception_ptr failure;
    try {
        const QList<NodeItem> nodes = co_await core().nodes(m_settings);
        setNodes(nodes);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(describe(failure));
        co_return;
    }
    co_await reconcileSelectedNode();
}

QCoro::Task<> AppModel::testAllNodes()
{
    if (!membershipActive() || !m_isCoreRunning || m_isTesting)
        co_return;
    setIsTesting(true);
    std::exception_ptr failure;
    try {
        const QMap<QString, qint64> delays = co_await core().testLatencies(m_settings);
        Step step(*this);
        applyLatencies(delays);
        setStatusMessage(QStringLiteral("线路测速完成"));
    } catch (...) {
        failure = std::current_exception();
    }
    Step step(*this);
    if (failure)
        present(describe(failure));
    setIsTesting(false);
}

QCoro::Task<> AppModel::selectNode(NodeItem node)
{
    if (!membershipActive() || !m_isCoreRunning || m_isBusy || m_selectingNodeName)
        co_return;
    setSelectingNodeName(node.name);
    const AppSettings old = m_settings;
    AppSettings chosen = old;
    chosen.selectedNode = node.name;
    chosen.smartSelection = false;

    std::exception_ptr failure = co_await failureOf(core().selectNode(node.name, chosen));
    if (failure) {
        Step step(*this);
        present(describe(failure));
        setSelectingNodeName(std::nullopt);
        co_return;
    }

    const QString name = node.name;
    SettingsChange change = [name](AppSettings &settings) {
        settings.selectedNode = name;
        settings.smartSelection = false;
    };
    SettingsChange undo = [old](AppSettings &settings) {
        settings.selectedNode = old.selectedNode;
        settings.smartSelection = old.smartSelection;
    };
    failure = (co_await commitSettings(change, undo)).failure;
    if (failure) {
        // The kernel follows the settings that stay.
        const QString previous = old.smartSelection ? automaticGroup() : old.selectedNode;
        if (!previous.isEmpty()) {
            try {
                co_await core().selectNode(previous, old);
            } catch (const std::exception &) {
                // best effort: the failure that made this necessary is already shown
            }
        }
        Step step(*this);
        present(describe(failure));
        setSelectingNodeName(std::nullopt);
        co_return;
    }
    Step step(*this);
    setStatusMessage(QStringLiteral("已选择并同步 ") + node.name);
    setSelectingNodeName(std::nullopt);
}

QCoro::Task<> AppModel::setSmartSelection(bool enabled)
{
    if (m_isBusy || enabled == m_settings.smartSelection)
        co_return;
    const AppSettings old = m_settings;
    AppSettings updated = old;
    updated.smartSelection = enabled;
    if (enabled)
        updated.selectedNode.clear();

    // Turning it off leaves the kernel on the automatic group until a node is picked.
    const bool switchCore = enabled && core().isRunning();
    if (switchCore) {
        const std::exception_ptr failure = co_await failureOf(core().selectNode(automaticGroup(), updated));
        if (failure) {
            present(describe(failure));
            co_return;
        }
    }
    SettingsChange change = [enabled](AppSettings &settings) {
        settings.smartSelection = enabled;
        if (enabled)
            settings.selectedNode.clear();
    };
    SettingsChange undo = [old](AppSettings &settings) {
        settings.smartSelection = old.smartSelection;
        settings.selectedNode = old.selectedNode;
    };
    const std::exception_ptr failure = (co_await commitSettings(change, undo)).failure;
    if (failure) {
        if (switchCore && !old.selectedNode.isEmpty()) {
            try {
                co_await core().selectNode(old.selectedNode, old);
            } catch (const std::exception &) {
                // best effort: the failure that made this necessary is already shown
            }
        }
        present(describe(failure));
        co_return;
    }
    setStatusMessage(enabled ? QStringLiteral("已启用智能优选") : QStringLiteral("可在节点页手动选择节点"));
}

QCoro::Task<> AppModel::reconcileSelectedNode()
{
    if (m_settings.smartSelection || m_settings.selectedNode.isEmpty())
        co_return;
    const QString wanted = m_settings.selectedNode;
    if (std::any_of(m_nodes.begin(), m_nodes.end(), [&wanted](const NodeItem &node) { return node.name == wanted; }))
        co_return;

    // The chosen node is gone: fall back to the automatic group, quietly.
    std::exception_ptr failure = co_await failureOf(core().selectNode(automaticGroup(), m_settings));
    if (failure) {
        Logger::shared().log(QStringLiteral("失效节点回退失败：") + describe(failure));
        co_return;
    }
    // The fallback stays in effect even when it cannot be written: the kernel already runs it.
    SettingsChange change = [](AppSettings &settings) {
        settings.smartSelection = true;
        settings.selectedNode.clear();
    };
    SettingsChange keep = [](AppSettings &) {};
    failure = (co_await commitSettings(change, keep)).failure;
    if (failure)
        Logger::shared().log(QStringLiteral("已回退到智能优选，但设置保存失败：") + describe(failure));
    setStatusMessage(QStringLiteral("原节点已下线，已自动回退到智能优选"));
}

QCoro::Task<> AppModel::updateProxyMode(ConnectionMode mode)
{
    if (m_isBusy || mode == m_settings.proxyMode)
        co_return;
    const AppSettings old = m_settings;

    std::exception_ptr failure;
    const bool coreRuns = core().isRunning();
    if (coreRuns) {
        try {
            // A named body: a temporary converted into the optional parameter inside the co_await
            // expression would be destroyed twice by this compiler.
            const std::optional<QByteArray> body = modeBody(mode);
            co_await core().controller(QStringLiteral("configs"), QByteArrayLiteral("PATCH"), body, old);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            present(describe(failure));
            co_return;
        }
    }
    SettingsChange change = [mode](AppSettings &settings) { settings.proxyMode = mode; };
    SettingsChange undo = [old](AppSettings &settings) { settings.proxyMode = old.proxyMode; };
    failure = (co_await commitSettings(change, undo)).failure;
    if (failure) {
        present(describe(failure));
        if (coreRuns) {
            std::exception_ptr putBack;
            try {
                const std::optional<QByteArray> body = modeBody(old.proxyMode);
                co_await core().controller(QStringLiteral("configs"), QByteArrayLiteral("PATCH"), body, old);
            } catch (...) {
                putBack = std::current_exception();
            }
            if (putBack)
                present(describe(putBack));
        }
        co_return;
    }
    setStatusMessage(m_isConnected
            ? QStringLiteral("已切换到") + displayName(mode)
            : QStringLiteral("已设为") + displayName(mode) + QStringLiteral(" · 下次连接时生效"));
}

} // namespace veyra
