#include "Endpoint.h"

#include <QHostAddress>

namespace veyra::proxy {

QString Endpoint::authority() const
{
    QHostAddress address;
    const bool isV6 = address.setAddress(host) && address.protocol() == QAbstractSocket::IPv6Protocol;
    return (isV6 ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':') + QString::number(port);
}

std::optional<Endpoint> parseAuthority(const QString &text, quint16 defaultPort)
{
    QString host;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        // More than one colon without brackets is a bare IPv6 literal, which has no port.
        if (colon >= 0 && text.indexOf(QLatin1Char(':')) == colon) {
            host = text.left(colon);
            portText = text.mid(colon + 1);
        } else {
            host = text;
        }
    }
    if (host.isEmpty())
        return std::nullopt;
    Endpoint endpoint { host, defaultPort };
    if (!portText.isNull()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        endpoint.port = static_cast<quint16>(port);
    }
    if (endpoint.port == 0)
        return std::nullopt;
    return endpoint;
}

} // namespace veyra::proxy
