#include "AccountView.h"

#include "AccountRow.h"
#include "AppModel.h"
#include "EmptyStateView.h"
#include "Icons.h"
#include "PageHeader.h"
#include "PageScaffold.h"
#include "PlanFeatures.h"
#include "SectionCard.h"
#include "StatusPill.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    QPushButton *button(const QString &text, const QString &symbol, QWidget *parent)
    {
        auto *made = new QPushButton(text, parent);
        if (!symbol.isEmpty())
            made->setIcon(symbolIcon(symbol));
        made->setAccessibleName(text);
        return made;
    }

} // namespace

AccountView::AccountView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_states(new QStackedLayout(this))
{
    m_signedOut = new EmptyStateView(QStringLiteral("登录维拉账号"), QStringLiteral("person.crop.circle.badge.plus"),
        QStringLiteral("登录后自动获取官方线路，并查看会员、流量和订单状态。"), this);
    QPushButton *signIn = m_signedOut->addButton(QStringLiteral("登录 / 注册"));
    signIn->setProperty("prominent", true);
    QObject::connect(signIn, &QPushButton::clicked, this, [this] { m_model.setShowAuthentication(true); });
    m_states->addWidget(m_signedOut);

    auto *signedInPage = new QWidget(this);
    m_states->addWidget(signedInPage);
    QVBoxLayout *column = scrollingPageColumn(signedInPage, theme::unit * 2);
    m_signedIn = column->parentWidget();

    auto *header = new PageHeader(QStringLiteral("个人中心"), QStringLiteral("集中查看账号、会员、流量和订单状态。"), m_signedIn);
    m_refresh = button(QStringLiteral("刷新"), QStringLiteral("arrow.clockwise"), header);
    m_logout = button(QStringLiteral("退出账号"), {}, header);
    header->addTrailing(m_refresh);
    header->addTrailing(m_logout);
    QObject::connect(m_refresh, &QPushButton::clicked, this, [this] { m_model.refreshAccount(false); });
    QObject::connect(m_logout, &QPushButton::clicked, this, [this] { m_model.logout(); });
    column->addWidget(header);

    // Who is signed in, and what the account holds.
    auto *accountCard = new SectionCard(m_signedIn);
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 3 / 2);
        auto *icon = new QLabel(accountCard);
        icon->setPixmap(symbolPixmap(QStringLiteral("person.crop.circle.fill"), 44, theme::accent(), devicePixelRatioF()));
        auto *texts = new QVBoxLayout;
        texts->setSpacing(theme::unit / 4);
        auto *caption = new QLabel(QStringLiteral("维拉账号"), accountCard);
        theme::makeSecondary(caption);
        theme::setTextRole(caption, theme::TextRole::small);
        m_account = new QLabel(accountCard);
        theme::setTextRole(m_account, theme::TextRole::title, true);
        m_account->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(caption);
        texts->addWidget(m_account);
        m_badge = new StatusPill(QStringLiteral("普通账号"), theme::secondaryText(), accountCard);
        row->addWidget(icon, 0, Qt::AlignVCenter);
        row->addLayout(texts, 1);
        row->addWidget(m_badge, 0, Qt::AlignVCenter);
        accountCard->body()->addLayout(row);
        accountCard->body()->addWidget(makeDivider(accountCard));
        m_plan = new AccountRow(QStringLiteral("会员套餐"), {}, accountCard);
        m_expiry = new AccountRow(QStringLiteral("有效期"), {}, accountCard);
        m_line = new AccountRow(QStringLiteral("官方线路"), {}, accountCard);
        auto *rows = new QVBoxLayout;
        rows->setSpacing(0);
        rows->addWidget(m_plan);
        rows->addWidget(m_expiry);
        rows->addWidget(m_line);
        accountCard->body()->addLayout(rows);
    }
    column->addWidget(accountCard);

    // The latest order, and a way back to its checkout while it waits for a payment.
    m_order = new SectionCard(m_signedIn);
    {
        auto *heading = new SymbolLabel(QStringLiteral("doc.text"), QStringLiteral("最近订单"), m_order);
        theme::setTextRole(heading->textLabel(), theme::TextRole::headline, true);
        m_order->body()->addWidget(heading);
        m_orderPlan = new AccountRow(QStringLiteral("套餐"), {}, m_order);
        m_orderNumber = new AccountRow(QStringLiteral("订单号"), {}, m_order);
        m_orderStatus = new AccountRow(QStringLiteral("状态"), {}, m_order);
        auto *rows = new QVBoxLayout;
        rows->setSpacing(0);
        rows->addWidget(m_orderPlan);
        rows->addWidget(m_orderNumber);
        rows->addWidget(m_orderStatus);
        m_order->body()->addLayout(rows);
        auto *actions = new QHBoxLayout;
        actions->setSpacing(theme::unit * 3 / 2);
        m_resumeNote = new QLabel(QStringLiteral("应用会继续从服务端核验支付结果。"), m_order);
        m_resumeNote->setWordWrap(true);
        theme::makeSecondary(m_resumeNote);
        m_resume = button(QStringLiteral("继续付款"), {}, m_order);
        m_resume->setProperty("tint", "accent");
        QObject::connect(m_resume, &QPushButton::clicked, this, [this] { m_model.setShowCheckout(true); });
        actions->addWidget(m_resumeNote, 1);
        actions->addWidget(m_resume, 0, Qt::AlignVCenter);
        m_order->body()->addLayout(actions);
    }
    column->addWidget(m_order);
    column->addStretch(1);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &AccountView::render);
    render();
}

void AccountView::render()
{
    const std::optional<AccountUser> &user = m_model.user();
    m_states->setCurrentIndex(user ? 1 : 0);
    if (!user)
        return;

    const bool busy = m_model.isBusy();
    m_refresh->setEnabled(!busy);
    m_logout->setEnabled(!busy);

    m_account->setText(user->account);
    const bool member = m_model.membershipActive();
    m_badge->setTitle(member ? QStringLiteral("有效会员") : QStringLiteral("普通账号"));
    m_badge->setColor(member ? theme::green() : theme::secondaryText());
    m_plan->setValue(m_model.membershipPlanText());
    m_expiry->setValue(m_model.membershipExpiryText());
    m_line->setValue(m_model.officialLineStatusText());

    const std::optional<PaymentOrder> &order = m_model.currentOrder();
    m_order->setVisible(order.has_value());
    if (!order)
        return;
    m_orderPlan->setValue(orderPlanName(*order));
    m_orderNumber->setValue(order->orderNo);
    m_orderStatus->setValue(orderStatusText(*order));
    // Only an order that can still be paid is offered again; an expired or cancelled one
    // would lead to a checkout that waits for nothing.
    const bool open = !order->isFinal();
    m_resume->setVisible(open);
    m_resumeNote->setVisible(open);
}

} // namespace veyra::ui
