#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace veyra {

// Base of every error the product raises on purpose. The description is the complete
// sentence a user sees; what() carries the same text as UTF-8 so that code which only
// knows std::exception still shows something meaningful.
class Error : public std::exception {
public:
    explicit Error(QString description);
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// The general error: one complete Chinese sentence for the user.
class AppError : public Error {
public:
    using Error::Error;
};

// A failure of the platform (file system, process launch, transport, JSON parsing),
// carrying the platform's own text unchanged.
class SystemError : public Error {
public:
    using Error::Error;
};

// The service answered 401 or 403: the session has ended.
class APIClientError : public Error {
public:
    static APIClientError authenticationExpired(QString text) { return APIClientError(std::move(text)); }

private:
    using Error::Error;
};

// The user-facing text of any error that reaches a workflow.
QString describe(const std::exception &error);
QString describe(const std::exception_ptr &error);

} // namespace veyra
