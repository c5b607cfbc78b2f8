#include "AccountView.h"

#include "AccountRow.h"
#include "AppModel.h"
#include "Controls.h"
#include "EmptyStateView.h"
#include "Icons.h"
#include "Navigation.h"
#include "PageHeader.h"
#include "PageScaffold.h"
#include "RecentOrderCard.h"
#include "SectionCard.h"
#include "StatusPill.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace veyra::ui {

AccountView::AccountView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_states(new QStackedLayout(this))
{
    m_signedOut = new EmptyStateView(QStringLiteral("登录维拉账号"), QStringLiteral("person.crop.circle.badge.plus"),
        QStringLiteral("登录后自动获取官方线路，并查看会员、流量和订单状态。"), this);
    QPushButton *signIn = m_signedOut->addButton(QStringLiteral("登录 / 注册"));
    signIn->setProperty("prominent", true);
    QObject::connect(
        signIn, &QPushButton::clicked, this, [this] { openAuthentication(m_model, AuthenticationMode::login); });
    m_states->addWidget(m_signedOut);

    auto *signedInPage = new QWidget(this);
    m_states->addWidget(signedInPage);
    QVBoxLayout *column = scrollingPageColumn(signedInPage, theme::unit * 2);
    m_signedIn = column->parentWidget();

    auto *header = new PageHeader(
        QStringLiteral("个人中心"), QStringLiteral("集中查看账号、会员、流量和订单状态。"), m_signedIn);
    m_refresh = new OperationButton(
        QStringLiteral("刷新"), QStringLiteral("正在刷新…"), header, QStringLiteral("arrow.clockwise"));
    m_logout = makeButton(QStringLiteral("退出账号"), header);
    header->addTrailing(m_refresh);
    header->addTrailing(m_logout);
    QObject::connect(m_refresh, &QPushButton::clicked, this,
        [this] { m_refresh->run([this] { return m_model.refreshAccount(false); }); });
    QObject::connect(m_logout, &QPushButton::clicked, this, [this] { m_model.logout(); });
    column->addWidget(header);

    // Who is signed in, and what the account holds.
    auto *accountCard = new SectionCard(m_signedIn);
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 3 / 2);
        auto *icon = new QLabel(accountCard);
        showSymbol(icon, QStringLiteral("person.crop.circle.fill"), 44, theme::accent());
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

    // The latest order, whatever became of it, and a way back to its checkout while it waits
    // for a payment.
    column->addWidget(new RecentOrderCard(
        m_model, RecentOrderCard::Shows::latestOrder, RecentOrderCard::ResumeButton::besideNote, m_signedIn));
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
    m_refresh->setAvailable(!busy);
    m_logout->setEnabled(!busy);

    m_account->setText(user->account);
    const bool member = m_model.membershipActive();
    m_badge->setTitle(member ? QStringLiteral("有效会员") : QStringLiteral("普通账号"));
    m_badge->setColor(member ? theme::green() : theme::secondaryText());
    m_plan->setValue(m_model.membershipPlanText());
    m_expiry->setValue(m_model.membershipExpiryText());
    m_line->setValue(m_model.officialLineStatusText());
}

} // namespace veyra::ui
