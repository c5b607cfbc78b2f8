#include "PrivilegedProxyClient.h"

#include "AppInfo.h"
#include "Errors.h"
#include "ProxyReplyGate.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperConstants.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <QCoroSignal>
#include <QLocalSocket>
#include <QTimer>

#include <string_view>

namespace veyra {

static_assert(std::string_view(AppInfo::identifier) == ipc::ProxyHelperConstants::appIdentifier,
    "the helper's service name must be built from the application identifier");

namespace {

// Turns the gate's continuation into a signal the coroutine can await on the main thread.
class ReplyWaiter : public QObject {
    Q_OBJECT
public:
    void deliver(ProxyReplyGate::Result result)
    {
        m_result = std::move(result);
        m_delivered = true;
        // Queued, so the caller resumes from the event loop and not inside the socket's own
        // signal, where tearing the socket down would pull it from under its emitter.
        QMetaObject::invokeMethod(this, &ReplyWaiter::delivered, Qt::QueuedConnection);
    }
    bool hasResult() const { return m_delivered; }
    ProxyReplyGate::Result take() { return std::move(m_result); }

signals:
    void delivered();

private:
    ProxyReplyGate::Result m_result;
    bool m_delivered = false;
};

std::exception_ptr connectionError(const QLocalSocket &socket)
{
    return std::make_exception_ptr(SystemError(socket.errorString()));
}

} // namespace

PrivilegedProxyClient::PrivilegedProxyClient(QString socketPath, std::chrono::milliseconds replyTimeout)
    : m_socketPath(std::move(socketPath))
    , m_replyTimeout(replyTimeout)
{
}

QString PrivilegedProxyClient::defaultSocketPath()
{
    return QString::fromStdString(ipc::ProxyHelperConstants::socketPath());
}

std::string PrivilegedProxyClient::encodeRequest(const ipc::CommandList &commands)
{
    ipc::ProxyCommandValidator::validate(commands);
    std::string request = ipc::ProxyHelperRequest { commands }.encode();
    if (request.size() > ipc::ProxyHelperConstants::maximumRequestBytes)
        throw AppError(QStringLiteral("系统代理请求超过安全大小限制。"));
    return request;
}

QCoro::Task<void> PrivilegedProxyClient::execute(ipc::CommandList commands)
{
    const QByteArray framed = QByteArray::fromStdString(ipc::Framing::frame(encodeRequest(commands)));

    ReplyWaiter waiter;
    ProxyReplyGate gate([&waiter](ProxyReplyGate::Result result) { waiter.deliver(std::move(result)); });
    QLocalSocket socket;
    ipc::Framing::FrameReader reader;

    QObject::connect(&socket, &QLocalSocket::connected, &socket, [&] { socket.write(framed); });
    QObject::connect(&socket, &QLocalSocket::readyRead, &socket, [&] {
        reader.feed(socket.readAll().toStdString());
        if (reader.status() == ipc::Framing::FrameReader::Status::complete)
            gate.finish(QByteArray::fromStdString(reader.payload()));
        else if (reader.status() == ipc::Framing::FrameReader::Status::oversized)
            gate.finish(std::make_exception_ptr(SystemError(
                QStringLiteral("The helper's reply is larger than %1 bytes.").arg(ipc::Framing::maximumPayloadBytes))));
    });
    // A helper that refuses the peer closes the connection without a reply; that arrives
    // here as the socket's own "remote closed" error.
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &socket,
        [&](QLocalSocket::LocalSocketError) { gate.finish(connectionError(socket)); });
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    QObject::connect(&timeout, &QTimer::timeout, &timeout,
        [&] { gate.finish(std::make_exception_ptr(AppError(QStringLiteral("后台网络服务响应超时。")))); });
    timeout.start(m_replyTimeout);
    socket.connectToServer(m_socketPath);

    if (!waiter.hasResult())
        co_await qCoro(&waiter, &ReplyWaiter::delivered);
    ProxyReplyGate::Result result = waiter.take();
    // Whatever finished the call, the connection ends here; a reply that comes later has no
    // reader and the gate ignores it.
    timeout.stop();
    socket.disconnect();
    socket.abort();

    if (auto *failure = std::get_if<std::exception_ptr>(&result))
        std::rethrow_exception(*failure);
    const QByteArray &bytes = std::get<QByteArray>(result);
    ipc::ProxyHelperResponse response;
    try {
        response = ipc::ProxyHelperResponse::decode(std::string_view(bytes.constData(), bytes.size()));
    } catch (const ipc::ProxyHelperDecodingError &error) {
        throw SystemError(QString::fromUtf8(error.what()));
    }
    if (!response.success && response.message == ipc::ProxyHelperConstants::containmentRefusal)
        throw Refused(QString::fromStdString(response.message));
    if (!response.success)
        throw AppError(QString::fromStdString(response.message));
}

} // namespace veyra

#include "PrivilegedProxyClient.moc"
