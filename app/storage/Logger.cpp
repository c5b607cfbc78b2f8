#include "Logger.h"

#include "AppInfo.h"
#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <syslog.h>
#include <system_error>
#include <unistd.h>
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
            // Unicode properties, so that \s also matches a no-break or an ideographic space
            // between a key and its secret.
            QRegularExpression expression(QString::fromLatin1(pattern), QRegularExpression::UseUnicodePropertiesOption);
            // A rule that does not compile is skipped; the others still apply.
            if (expression.isValid())
                compiled.push_back(std::move(expression));
        }
        return compiled;
    }();
    return rules;
}

void writeToSyslog(int priority, const QString &text)
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

void Logger::setSystemLogSink(SystemLogSink sink)
{
    QMutexLocker lock(&m_gate);
    m_sink = std::move(sink);
}

void Logger::mirror(int priority, const QString &text)
{
    if (m_sink)
        m_sink(priority, text);
    else
        writeToSyslog(priority, text);
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
        QMutexLocker lock(&m_gate);
        mirror(LOG_NOTICE, redacted);
        try {
            writeLine(redacted);
        } catch (...) {
            mirror(LOG_ERR, QStringLiteral("log write failed"));
        }
    } catch (...) {
        // Logging must never interrupt the caller, not even when memory runs out.
    }
}

void Logger::rotate(const QString &directory)
{
    QFileInfoList entries = QDir(directory).entryInfoList(
        { QStringLiteral("veyra-*") }, QDir::Files | QDir::NoDotAndDotDot | QDir::CaseSensitive);
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

    if (!QFileInfo::exists(path)) {
        AppPaths::writeFileAtomically(path, line);
        return;
    }
    // Unbuffered, so that a full disk is seen at this write and reported, not lost at close.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category());
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + written, static_cast<size_t>(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw std::system_error(code, std::generic_category());
        }
        written += n;
    }
    if (::close(fd) != 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category());
}

} // namespace veyra
