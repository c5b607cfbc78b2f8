#include "World.h"

#include <QFile>
#include <QStringList>

namespace veyra::e2e {

World::World(const QString &pipes)
{
    const QStringList both = pipes.split(QLatin1Char(','));
    if (both.size() == 2) {
        m_requests = both.at(0);
        m_replies = both.at(1);
    }
}

bool World::ask(const QString &action) const
{
    QFile requests(m_requests);
    if (m_requests.isEmpty() || !requests.open(QIODevice::WriteOnly))
        return false;
    requests.write(action.toUtf8() + '\n');
    requests.close();
    QFile replies(m_replies);
    if (!replies.open(QIODevice::ReadOnly))
        return false;
    return replies.readLine().trimmed() == "0";
}

} // namespace veyra::e2e
