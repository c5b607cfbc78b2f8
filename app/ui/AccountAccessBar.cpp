#include "AccountAccessBar.h"

#include "AppModel.h"
#include "Navigation.h"
#include "StatusPill.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>

namespace veyra::ui {

AccountAccessBar::AccountAccessBar(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_account(new SymbolLabel(QStringLiteral("person.crop.circle.fill"), {}, this))
    , m_membership(new StatusPill({}, theme::orange(), this))
    , m_signOut(new QPushButton(QStringLiteral("退出登录"), this))
    , m_register(new QPushButton(QStringLiteral("注册"), this))
    , m_signIn(new QPushButton(QStringLiteral("登录"), this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(theme::unit * 2, theme::unit, theme::unit * 2, theme::unit);
    row->setSpacing(theme::unit);
    row->addWidget(m_account);
    row->addStretch(1);
    row->addWidget(m_membership);
    row->addWidget(m_signOut);
    row->addWidget(m_register);
    row->addWidget(m_signIn);
    m_account->setSymbolColor(theme::secondaryText());
    m_account->setSymbolScale(1.2);

    m_signIn->setProperty("prominent", true);
    for (QPushButton *button : { m_signOut, m_register, m_signIn })
        button->setAccessibleName(button->text());
    m_signOut->setAccessibleDescription(QStringLiteral("退出当前维拉账号"));

    QObject::connect(m_signOut, &QPushButton::clicked, this, [this] { m_model.logout(); });
    QObject::connect(m_register, &QPushButton::clicked, this, [this] { openAuthentication(m_model, AuthenticationMode::registration); });
    QObject::connect(m_signIn, &QPushButton::clicked, this, [this] { openAuthentication(m_model, AuthenticationMode::login); });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &AccountAccessBar::render);
    render();
}

void AccountAccessBar::render()
{
    const std::optional<AccountUser> &user = m_model.user();
    const bool signedIn = user.has_value();
    m_account->setText(signedIn ? QStringLiteral("维拉账号 %1").arg(user->account) : QStringLiteral("未登录"));
    m_membership->setVisible(signedIn);
    m_signOut->setVisible(signedIn);
    m_register->setVisible(!signedIn);
    m_signIn->setVisible(!signedIn);
    if (signedIn) {
        const bool active = m_model.membershipActive();
        m_membership->setTitle(active ? QStringLiteral("会员有效") : QStringLiteral("未开通会员"));
        m_membership->setColor(active ? theme::green() : theme::orange());
    }
    // Signing out waits for a running connect, disconnect or repair to end first.
    m_signOut->setEnabled(!m_model.isBusy());
}

} // namespace veyra::ui
