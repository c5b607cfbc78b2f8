#pragma once

#include "Errors.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <string>

namespace veyra {

// The application's side of the channel to the root helper: validates the command lines with
// the helper's own grammar, sends them as one framed request on a fresh connection, and waits
// at most `replyTimeout` for the one reply. Holds no state between calls.
class PrivilegedProxyClient {
public:
    static constexpr std::chrono::milliseconds defaultReplyTimeout { 12'000 };

    // The socket path and the time-out are seams for tests; the product uses the defaults.
    explicit PrivilegedProxyClient(
        QString socketPath = defaultSocketPath(), std::chrono::milliseconds replyTimeout = defaultReplyTimeout);

    // The helper refused the request as one that points somewhere else or puts back settings
    // it holds no record of: sent again, it is refused again.
    class Refused : public AppError {
    public:
        using AppError::AppError;
    };

    // Throws ProxyHelperValidationError (grammar), AppError (size, time-out, the helper's
    // failure message; Refused for its containment refusal) or SystemError (connection and
    // decoding failures, text unchanged).
    QCoro::Task<void> execute(ipc::CommandList commands);

    // The encoded request for `commands`, after the same grammar and size checks `execute`
    // makes before connecting; throws as `execute` would. Lets a caller learn that a request
    // would be refused before it changes anything it would then have to undo.
    static std::string encodeRequest(const ipc::CommandList &commands);

    static QString defaultSocketPath();

private:
    QString m_socketPath;
    std::chrono::milliseconds m_replyTimeout;
};

} // namespace veyra
