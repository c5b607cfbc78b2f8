#pragma once

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <functional>

namespace veyra {

// Daily diagnostic log files with secrets masked, mirrored to syslog. Callable from any
// thread; a failure to write never reaches the caller.
class Logger {
public:
    static constexpr int keptFiles = 14;

    static Logger &shared();

    void log(const QString &message) noexcept;

    // The five masking rules (bearer credentials, tokens, passwords, subscription and
    // payment-code addresses), in order, each match replaced by its first group and "***".
    static QString redact(const QString &text);

    // Test seam: the clock that dates lines and names the day's file.
    void setClock(std::function<QDateTime()> clock);
    // Test seam: where the system-log mirror goes (priority, text); empty restores syslog.
    using SystemLogSink = std::function<void(int priority, const QString &text)>;
    void setSystemLogSink(SystemLogSink sink);

private:
    Logger();
    void writeLine(const QString &redacted);
    void rotate(const QString &directory);
    void mirror(int priority, const QString &text);

    QMutex m_gate;
    std::function<QDateTime()> m_clock;
    SystemLogSink m_sink;
};

} // namespace veyra
