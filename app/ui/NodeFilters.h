#pragma once

#include "NodeItem.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace veyra::ui {

// The list logic of the nodes page and the menu-bar menu, kept free of widgets.

// The region choice that filters nothing.
QString allRegionsChoice();

// The distinct regions of the nodes, sorted.
QStringList nodeRegions(const QList<NodeItem> &nodes);
// What the region picker offers: allRegionsChoice() first, then nodeRegions().
QStringList regionChoices(const QList<NodeItem> &nodes);

// The nodes, in their order, that lie in the region (any for allRegionsChoice()) and whose name
// or region contains the search text (trimmed, case ignored; an empty text matches all).
QList<NodeItem> filteredNodes(const QList<NodeItem> &nodes, const QString &searchText, const QString &region);

// The nodes by displayed latency, fastest first; unmeasured ones last; ties by name.
QList<NodeItem> sortedNodes(const QList<NodeItem> &nodes);

// The displayed latency as text: "120 ms", or "未测速" when there is none.
QString latencyText(const NodeItem &node);

} // namespace veyra::ui
