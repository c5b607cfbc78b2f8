#include "Logger.h"

#include "AppInfo.h"
#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <syslog.h>
#include <vector>

namespace veyra {

namespace {

const std::vector<QRegularExpression> &redactionRules()
{
    static const std::vector<QRegularExpression> rules = [] {
        const char *patterns[] = {
            R"((?i)(authorization\s*[:=]\s*bearer\s+)([^\s,;]+))",
            R"((?i)((?:access-)?token[=:\s]+)([^\s,;]+))",
            R"((?i)(password[=:\s]+)([^\s,;]+))",
            R"((?i)(subscription(?:Url)?[=:\s]+)([^\s,;]+))",
            R"((?i)(codeUrl[=:\s]+)([^\s,;]+))",
        };
        std::vector<QRegularExpression> compiled;
        for (const char *pattern : patterns) {
            QRegularExpression expression(QString::fromLatin1(pattern));
            // A rule that does not compile is skipped; the others still apply.
            if (expression.isValid())
                compiled.push_back(std::move(expression));
        }
        return compiled;
    }();
    return rules;
}

void mirrorToSyslog(int priority, const QString &text)
{
    static const bool opened = [] {
        ::openlog(AppInfo::identifier, LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    ::syslog(priority, "%s", text.toUtf8().constData());
}

} // namespace

Logger &Logger::shared()
{
    static Logger instance;
    return instance;
}

Logger::Logger()
    : m_clock([] { return QDateTime::currentDateTime(); })
{
}

void Logger::setClock(std::function<QDateTime()> clock)
{
    QMutexLocker lock(&m_gate);
    m_clock = std::move(clock);
}

QString Logger::redact(const QString &text)
{
    QString result = text;
    for (const QRegularExpression &rule : redactionRules())
        result.replace(rule, QStringLiteral("\\1***"));
    return result;
}

void Logger::log(const QString &message) noexcept
{
    try {
        const QString redacted = redact(message);
        mirrorToSyslog(LOG_NOTICE, redacted);
        QMutexLocker lock(&m_gate);
        try {
            writeLine(redacted);
        } catch (...) {
            mirrorToSyslog(LOG_ERR, QStringLiteral("log write failed"));
        }
    } catch (...) {
        // Logging must never interrupt the caller, not even when memory runs out.
    }
}

void Logger::rotate(const QString &directory)
{
    QFileInfoList entries
        = QDir(directory).entryInfoList({ QStringLiteral("veyra-*") }, QDir::Files | QDir::NoDotAndDotDot);
    if (entries.size() <= keptFiles)
        return;
    std::stable_sort(entries.begin(), entries.end(),
        [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() > b.lastModified(); });
    for (qsizetype i = keptFiles; i < entries.size(); ++i)
        QFile::remove(entries[i].absoluteFilePath());
}

void Logger::writeLine(const QString &redacted)
{
    AppPaths::prepare();
    const QString directory = AppPaths::logs();
    rotate(directory);

    const QDateTime now = m_clock();
    const QByteArray line
        = (now.toUTC().toString(Qt::ISODate) + QLatin1Char(' ') + redacted + QLatin1Char('\n')).toUtf8();
    const QString path
        = directory + QStringLiteral("/veyra-") + now.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");

    QFile file(path);
    if (!file.exists()) {
        AppPaths::writeFileAtomically(path, line);
        return;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw std::runtime_error(file.errorString().toStdString());
    if (file.write(line) != line.size())
        throw std::runtime_error(file.errorString().toStdString());
}

} // namespace veyra
