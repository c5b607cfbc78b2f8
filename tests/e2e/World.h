#pragma once

#include <QString>

namespace veyra::e2e {

// Asks the world's root side (scripts/e2e) to change the world: "nodes-down", "nodes-up",
// "service-down", "service-up", "helper-stop", "revoke-tokens", and on a desktop
// "browser-through-line", "browser-direct" (a real browser's road). The two named pipes are made
// by that side; each request is one line, answered by one line holding the action's exit
// status. Blocks the caller for as long as the action takes (a second or less).
class World {
public:
    explicit World(const QString &pipes); // "REQUESTS,REPLIES"
    bool ask(const QString &action) const;

private:
    QString m_requests;
    QString m_replies;
};

} // namespace veyra::e2e
