#pragma once

#include "Endpoint.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace standin {

// Measures one round trip to `url` through `via`: the time from sending the request to
// receiving the response headers, in milliseconds (at least 1). Any HTTP answer below 400
// counts; no answer within `timeoutMs`, a refused tunnel or a REJECT gives nothing.
void probeDelay(const veyra::proxy::Upstream &via, const QString &url, int timeoutMs, QObject *context,
    std::function<void(std::optional<int>)> done);

} // namespace standin
