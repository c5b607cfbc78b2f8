#pragma once

#include "Json.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace veyra {

// Records decoded from the service's replies. Decoding is strict: a missing required key or a
// value of the wrong type throws SystemError, so the client can try the next candidate shape.

struct Membership {
    bool active = false;
    std::optional<QString> planId;
    std::optional<QString> expiresAt;
    std::optional<bool> lifetime;
    std::optional<qint64> deviceLimit;
    std::optional<qint64> trafficUsedBytes;

    static Membership fromJson(const json::Json &value);
    // The traffic counter, read tolerantly from the keys the service has used over time.
    static std::optional<qint64> readTrafficUsed(const json::Json &object);
    bool operator==(const Membership &) const = default;
};

struct AccountUser {
    QString account;
    std::optional<Membership> membership;
    std::optional<QString> subscriptionUrlToken;
    std::optional<QString> subscriptionUrl;

    static AccountUser fromJson(const json::Json &value);
    bool operator==(const AccountUser &) const = default;
};

struct Plan {
    QString id;
    QString name;
    std::optional<qint64> durationDays;
    std::optional<bool> lifetime;
    qint64 priceFen = 0;
    std::optional<qint64> trafficBytes;
    std::optional<qint64> deviceLimit;
    std::optional<bool> enabled;
    std::optional<qint64> sortOrder;
    std::optional<QStringList> features;

    static Plan fromJson(const json::Json &value);
    static QList<Plan> listFromJson(const json::Json &value);
    bool operator==(const Plan &) const = default;
};

struct PaymentOrder {
    QString orderNo;
    std::optional<QString> planName;
    QString method;
    std::optional<qint64> amountFen;
    QString status;
    std::optional<QString> paymentUrl;
    std::optional<QString> codeUrl;

    static PaymentOrder fromJson(const json::Json &value);
    bool operator==(const PaymentOrder &) const = default;
    // What the service's status word means, compared without regard to case. Every outcome
    // but `open` is final: nothing changes after it.
    enum class Outcome { open, paid, cancelled, expired, failed };
    Outcome outcome() const;
    bool isPaid() const;
    bool isFinal() const;
};

struct AuthResult {
    QString token;
    std::optional<AccountUser> user;

    static AuthResult fromJson(const json::Json &value);
    bool operator==(const AuthResult &) const = default;
};

} // namespace veyra
