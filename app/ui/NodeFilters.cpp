#include "NodeFilters.h"

#include <algorithm>
#include <limits>

namespace veyra::ui {

QString allRegionsChoice()
{
    return QStringLiteral("全部");
}

QStringList nodeRegions(const QList<NodeItem> &nodes)
{
    QStringList regions;
    for (const NodeItem &node : nodes)
        if (!regions.contains(node.region))
            regions << node.region;
    std::sort(regions.begin(), regions.end());
    return regions;
}

QStringList regionChoices(const QList<NodeItem> &nodes)
{
    return QStringList { allRegionsChoice() } + nodeRegions(nodes);
}

QList<NodeItem> filteredNodes(const QList<NodeItem> &nodes, const QString &searchText, const QString &region)
{
    const QString needle = searchText.trimmed();
    const bool anyRegion = region == allRegionsChoice();
    QList<NodeItem> matching;
    for (const NodeItem &node : nodes) {
        if (!anyRegion && node.region != region)
            continue;
        if (!needle.isEmpty() && !node.name.contains(needle, Qt::CaseInsensitive)
            && !node.region.contains(needle, Qt::CaseInsensitive))
            continue;
        matching << node;
    }
    return matching;
}

QList<NodeItem> sortedNodes(const QList<NodeItem> &nodes)
{
    QList<NodeItem> sorted = nodes;
    const auto rank
        = [](const NodeItem &node) { return node.displayDelay().value_or(std::numeric_limits<int>::max()); };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const NodeItem &a, const NodeItem &b) {
        const int left = rank(a);
        const int right = rank(b);
        return left != right ? left < right : a.name < b.name;
    });
    return sorted;
}

QString latencyText(const NodeItem &node)
{
    if (const std::optional<int> delay = node.displayDelay())
        return QString::number(*delay) + QStringLiteral(" ms");
    return QStringLiteral("未测速");
}

} // namespace veyra::ui
