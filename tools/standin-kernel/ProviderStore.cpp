#include "ProviderStore.h"

#include <QHash>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSaveFile>

#include <yaml-cpp/yaml.h>

namespace standin {

std::optional<SubscriptionInfo> parseSubscriptionUserinfo(const QByteArray &header)
{
    if (header.trimmed().isEmpty())
        return std::nullopt;
    SubscriptionInfo info;
    bool any = false;
    for (const QByteArray &part : header.split(';')) {
        const qsizetype equals = part.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = part.left(equals).trimmed().toLower();
        bool ok = false;
        const qint64 value = part.mid(equals + 1).trimmed().toLongLong(&ok);
        if (!ok)
            continue;
        if (key == "upload")
            info.upload = value;
        else if (key == "download")
            info.download = value;
        else if (key == "total")
            info.total = value;
        else if (key == "expire")
            info.expire = value;
        else
            continue;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return info;
}

Provider::Provider(ProviderConfig config, std::function<void(const QString &)> log, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_log(std::move(log))
{
    // Providers are fetched straight from their server, never through a proxy from the environment.
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_network.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    if (m_config.interval > 0) {
        m_timer.setInterval(std::chrono::seconds(m_config.interval));
        connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
    }
}

void Provider::load(std::function<void()> done)
{
    if (loadCache(true)) {
        if (m_config.interval > 0)
            m_timer.start();
        if (done)
            done();
        return;
    }
    refresh([this, done = std::move(done)] {
        // A failed download still leaves the last cached list usable.
        if (m_nodes.isEmpty())
            loadCache(false);
        if (m_config.interval > 0)
            m_timer.start();
        if (done)
            done();
    });
}

bool Provider::loadCache(bool onlyIfFresh)
{
    const QFileInfo info(m_config.path);
    if (!info.exists())
        return false;
    if (onlyIfFresh
        && (m_config.interval <= 0 || info.lastModified().secsTo(QDateTime::currentDateTime()) >= m_config.interval))
        return false;
    QFile file(m_config.path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumDocument)
        return false;
    try {
        adopt(file.readAll(), QStringLiteral("cache"));
        m_updatedAt = info.lastModified();
        return true;
    } catch (const std::exception &error) {
        m_log(QStringLiteral("[warning] provider %1: cache unusable: %2")
                  .arg(m_config.name, QString::fromUtf8(error.what())));
        return false;
    }
}

void Provider::adopt(const QByteArray &document, const QString &origin)
{
    YAML::Node root;
    try {
        root = YAML::Load(document.toStdString());
    } catch (const YAML::Exception &error) {
        throw ConfigError(QStringLiteral("yaml: %1").arg(QString::fromStdString(error.what())));
    }
    if (!root.IsMap() || !root["proxies"])
        throw ConfigError(QStringLiteral("the document has no proxies list"));
    QList<NodeConfig> nodes = parseNodes(root["proxies"], QStringLiteral("provider %1").arg(m_config.name));
    m_nodes = std::move(nodes);
    m_log(QStringLiteral("[info] provider %1: %2 proxies from %3").arg(m_config.name).arg(m_nodes.size()).arg(origin));
    emit nodesChanged();
}

namespace {
QHash<QString, QString> &mappedHosts()
{
    static QHash<QString, QString> hosts;
    return hosts;
}
} // namespace

void mapHost(const QString &name, const QString &address)
{
    mappedHosts().insert(name.toLower(), address);
}

void Provider::refresh(std::function<void()> done)
{
    QUrl url(m_config.url);
    const QString mapped = mappedHosts().value(url.host().toLower());
    QNetworkRequest request { url };
    if (!mapped.isEmpty()) {
        // The Host header keeps the name and port of the address as given.
        const QString name = url.host();
        request.setRawHeader(
            "Host", (url.port() > 0 ? name + QLatin1Char(':') + QString::number(url.port()) : name).toUtf8());
        // ADDRESS or ADDRESS:PORT (an IPv4 address; the port replaces the address's own).
        const QStringList parts = mapped.split(QLatin1Char(':'));
        url.setHost(parts.value(0));
        if (parts.size() == 2)
            url.setPort(parts[1].toInt());
        request.setUrl(url);
        request.setPeerVerifyName(name);
    }
    request.setTransferTimeout(downloadTimeoutMs);
    for (const auto &[name, values] : m_config.headers)
        request.setRawHeader(name.toUtf8(), values.join(QStringLiteral(", ")).toUtf8());
    QNetworkReply *reply = m_network.get(request);
    auto body = std::make_shared<QByteArray>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, body] {
        body->append(reply->readAll());
        if (body->size() > maximumDocument)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, done = std::move(done)] {
        reply->deleteLater();
        body->append(reply->readAll());
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299
            || body->size() > maximumDocument) {
            m_log(QStringLiteral("[warning] provider %1: download failed: %2 (HTTP %3)")
                      .arg(m_config.name, reply->errorString())
                      .arg(status));
        } else {
            try {
                adopt(*body, QStringLiteral("download"));
                m_updatedAt = QDateTime::currentDateTime();
                if (auto info = parseSubscriptionUserinfo(reply->rawHeader("subscription-userinfo")))
                    m_subscription = info;
                QDir().mkpath(QFileInfo(m_config.path).absolutePath());
                QSaveFile cache(m_config.path);
                if (cache.open(QIODevice::WriteOnly)) {
                    cache.write(*body);
                    if (!cache.commit())
                        m_log(QStringLiteral("[warning] provider %1: cannot write cache").arg(m_config.name));
                }
            } catch (const std::exception &error) {
                m_log(QStringLiteral("[warning] provider %1: %2").arg(m_config.name, QString::fromUtf8(error.what())));
            }
        }
        if (done)
            done();
    });
}

} // namespace standin
