// Plans and payment orders. Only the service's "paid", followed by a fresh account record,
// ever changes the membership; an unpaid order survives a restart through a small record.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "AppPaths.h"
#include "Errors.h"
#include "Logger.h"
#include "QRCodeRenderer.h"
#include "SecurityPolicy.h"
#include "Settled.h"

#include <QUuid>

#include <algorithm>

namespace veyra {

namespace {

constexpr qint64 pendingOrderLifetimeSeconds = 86'400;

} // namespace

QCoro::Task<> AppModel::refreshPlans(bool silent)
{
    Settled<QList<Plan>> plans = co_await settle(api().plans());
    if (!plans.failure) {
        setServicePlans(*plans.value);
        co_return;
    }
    const QString text = Logger::redact(describe(plans.failure));
    Logger::shared().log(text);
    if (!silent)
        setAlertMessage(text);
}

QCoro::Task<> AppModel::loadCheckoutImage(PaymentOrder order)
{
    std::optional<QImage> image;
    try {
        image = QRCodeRenderer::image(co_await api().orderQRCode(order.orderNo));
    } catch (const std::exception &) {
        // fallback: the code address is drawn instead
    }
    if (!image && order.codeUrl)
        image = QRCodeRenderer::image(*order.codeUrl, QRCodeRenderer::checkoutSize);
    setCheckoutImage(image.value_or(QImage()));
}

QCoro::Task<> AppModel::createOrder(Plan plan, QString method)
{
    if (!m_user) {
        setShowAuthentication(true);
        co_return;
    }
    if (method != QLatin1String("alipay") && method != QLatin1String("wechat")) {
        present(QStringLiteral("不支持的支付方式。"));
        co_return;
    }
    if (m_isBusy)
        co_return;
    setIsBusy(true);

    const auto fail = [this](const std::exception_ptr &why) {
        Step step(*this);
        present(describe(why));
        setIsBusy(false);
    };
    const QString key = QStringLiteral("mac-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    Settled<PaymentOrder> created = co_await settle(api().createOrder(plan.id, method, key));
    if (created.failure) {
        fail(created.failure);
        co_return;
    }
    const PaymentOrder order = std::move(*created.value);
    // The previous order's polling stops before the new order is shown: an answer still on
    // its way would otherwise replace the new order (and its checkout page) with the old one.
    if (m_paymentTask)
        m_paymentTask->cancel();
    setCurrentOrder(order);
    co_await loadCheckoutImage(order);

    // Built before the co_await: this compiler destroys twice a temporary that is converted into
    // a coroutine's parameter inside a co_await expression.
    const std::optional<PendingOrderRecord> record = PendingOrderRecord { order.orderNo, m_collaborators->clock() };
    const std::exception_ptr failure = co_await failureOf(settingsStore().savePendingOrder(record));
    if (failure) {
        fail(failure);
        co_return;
    }

    setShowCheckout(true);
    if (method.compare(QLatin1String("alipay"), Qt::CaseInsensitive) == 0)
        co_await openPaymentPage();
    startPolling(order.orderNo);
    setIsBusy(false);
}

QCoro::Task<> AppModel::openPaymentPage()
{
    std::exception_ptr failure;
    try {
        if (!m_currentOrder || !m_currentOrder->paymentUrl || m_currentOrder->paymentUrl->isEmpty())
            throw AppError(QStringLiteral("订单没有可打开的收银台地址。"));
        // The page never opens before its address is known to be the real checkout; the
        // check resolves names, so it runs off the main thread.
        auto check = [text = *m_currentOrder->paymentUrl, resolver = m_collaborators->resolver] {
            return SecurityPolicy::paymentURL(text, resolver);
        };
        const QUrl page = co_await m_ioExecutor.run(check);
        if (!m_collaborators->openURL(page))
            throw AppError(QStringLiteral("无法打开系统浏览器。"));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        present(describe(failure));
}

void AppModel::startPolling(QString orderNo)
{
    if (m_paymentTask)
        m_paymentTask->cancel();
    auto token = std::make_shared<CancellationToken>();
    const QPointer<AppModel> self(this);
    m_paymentTask.emplace(paymentPollingLoop(self, token, orderNo), token);
}

QCoro::Task<std::optional<PaymentOrder>> AppModel::fetchOrder(QString orderNo)
{
    std::exception_ptr failure;
    try {
        PaymentOrder order = co_await api().order(orderNo);
        co_return order;
    } catch (const APIClientError &) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    Logger::shared().log(QStringLiteral("支付状态查询失败，将自动重试：") + Logger::redact(describe(failure)));
    co_return std::nullopt;
}

QCoro::Task<> AppModel::paymentPollingLoop(QPointer<AppModel> model, CancellationTokenPtr token, QString orderNo)
{
    for (int attempt = 0;; ++attempt) {
        if (token->isCancelled() || !model)
            co_return;
        CancellableSleep pause(token, model->m_collaborators->pollDelay(attempt));
        co_await pause;
        if (token->isCancelled() || !model)
            co_return;
        Settled<std::optional<PaymentOrder>> fetched = co_await settle(model->fetchOrder(orderNo));
        if (token->isCancelled() || !model)
            co_return;
        if (fetched.failure) {
            // Like any request the service refuses for the session: signed out, asked to sign
            // in again; the order's record stays so it is followed after the next sign-in.
            Logger::shared().log(Logger::redact(describe(fetched.failure)));
            co_await model->invalidatePersistedSession(true);
            co_return;
        }
        const std::optional<PaymentOrder> order = std::move(*fetched.value);
        if (!order)
            continue;
        model->setCurrentOrder(*order);
        if (order->isFinal()) {
            co_await model->finishOrder(*order, true);
            co_return;
        }
    }
}

QCoro::Task<> AppModel::finishOrder(PaymentOrder order, bool notify)
{
    try {
        co_await settingsStore().savePendingOrder(std::nullopt);
    } catch (const std::exception &) {
        // harmless: an order record expires on its own after a day
    }
    if (!order.isPaid())
        co_return;
    co_await refreshAccount(true);
    Step step(*this);
    // A newer order made meanwhile keeps its QR code and its sheet.
    const bool stillShown = m_currentOrder && m_currentOrder->orderNo == order.orderNo;
    if (stillShown)
        setCheckoutImage(QImage());
    setStatusMessage(QStringLiteral("开通成功"));
    if (notify)
        notifications().send(
            QStringLiteral("开通成功"), QStringLiteral("会员权益已更新"), m_settings.showNotifications);
    else if (stillShown)
        setShowCheckout(false);
}

QCoro::Task<> AppModel::resumePendingOrder()
{
    auto read = [] { return AppPaths::read<PendingOrderRecord>(AppPaths::pendingOrder(), AppPaths::pendingOrderCap); };
    Settled<std::optional<PendingOrderRecord>> stored = co_await settle(m_ioExecutor.run(read));
    if (stored.failure) {
        co_await settingsStore().quarantine(AppPaths::pendingOrder());
        co_return;
    }
    const std::optional<PendingOrderRecord> record = std::move(*stored.value);
    if (!record)
        co_return;

    const qint64 age = record->createdAt.secsTo(m_collaborators->clock());
    if (age < 0 || age >= pendingOrderLifetimeSeconds) {
        try {
            co_await settingsStore().savePendingOrder(std::nullopt);
        } catch (const std::exception &) {
            // harmless: an order record expires on its own after a day
        }
        co_return;
    }

    Settled<PaymentOrder> fetched = co_await settle(api().order(record->orderNo));
    if (fetched.failure) {
        Logger::shared().log(QStringLiteral("恢复待支付订单失败：") + Logger::redact(describe(fetched.failure)));
        co_return;
    }
    const PaymentOrder order = std::move(*fetched.value);
    if (m_paymentTask)
        m_paymentTask->cancel();
    setCurrentOrder(order);
    if (order.isFinal()) {
        co_await finishOrder(order, false);
        co_return;
    }
    co_await loadCheckoutImage(order);
    startPolling(order.orderNo);
}

void AppModel::scheduleAccessExpiry()
{
    m_accessExpiry.stop();
    m_accessExpiresAt = QDateTime();
    if (!m_user || !m_user->membership || m_user->membership->lifetime.value_or(false)
        || !m_user->membership->expiresAt)
        return;
    const std::optional<QDateTime> expiry = json::parseIsoDate(*m_user->membership->expiresAt);
    if (!expiry)
        return;
    const qint64 remaining = m_collaborators->clock().msecsTo(*expiry);
    // Already past: the service still calls it active, and asking again at once would loop.
    if (remaining <= 0)
        return;
    m_accessExpiresAt = *expiry;
    // A timer cannot wait longer than about 24 days; far moments are reached in daily steps.
    static constexpr qint64 longestStepMs = 24LL * 3600 * 1000;
    m_accessExpiry.start(static_cast<int>(std::min(remaining, longestStepMs)));
}

void AppModel::accessExpiryReached()
{
    if (!m_accessExpiresAt.isValid())
        return;
    if (m_collaborators->clock().msecsTo(m_accessExpiresAt) > 1000) {
        scheduleAccessExpiry(); // one daily step of a far moment
        return;
    }
    m_accessExpiresAt = QDateTime();
    refreshAccount(true);
}

} // namespace veyra
