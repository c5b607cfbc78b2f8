#include "LoggedOutLandingView.h"

#include "AppModel.h"
#include "Icons.h"
#include "Navigation.h"
#include "PlatformTexts.h"
#include "Theme.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

QLabel *secondaryLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    theme::makeSecondary(label);
    return label;
}

} // namespace

LoggedOutLandingView::LoggedOutLandingView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_icon(new QLabel(this))
    , m_content(new QWidget(this))
{
    auto *title = new QLabel(QStringLiteral("注册或登录后开始使用"), this);
    theme::setTextRole(title, theme::TextRole::title, true);
    title->setAlignment(Qt::AlignCenter);

    QLabel *explanation = secondaryLabel(
        QStringLiteral("安装应用不会自动获得会员。登录后需开通有效会员，才能连接官方线路和使用节点功能。"), this);

    auto *registerButton = new QPushButton(QStringLiteral("注册账号"), this);
    auto *signInButton = new QPushButton(QStringLiteral("登录账号"), this);
    signInButton->setProperty("prominent", true);
    for (QPushButton *button : { registerButton, signInButton }) {
        button->setAccessibleName(button->text());
        theme::setTextRole(button, theme::TextRole::headline);
        button->setMinimumWidth(136);
    }
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(theme::unit * 2);
    buttons->addStretch(1);
    buttons->addWidget(registerButton);
    buttons->addWidget(signInButton);
    buttons->addStretch(1);

    QLabel *note = secondaryLabel(
        QStringLiteral("账号凭据安全保存在") + platformText::keyring() + QStringLiteral("，不会弹出系统钥匙串密码框。"),
        this);
    theme::setTextRole(note, theme::TextRole::small);

    // The texts wrap inside a column of limited width; wrapped labels get their full height only
    // when the layout stretches them across that column.
    auto *column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(theme::unit * 2);
    column->addWidget(m_icon, 0, Qt::AlignHCenter);
    column->addWidget(title);
    column->addWidget(explanation);
    column->addSpacing(theme::unit);
    column->addLayout(buttons);
    column->addSpacing(theme::unit);
    column->addWidget(note);

    auto *outer = new QGridLayout(this);
    outer->setContentsMargins(theme::unit * 4, theme::unit * 4, theme::unit * 4, theme::unit * 4);
    outer->setRowStretch(0, 1);
    outer->setRowStretch(2, 1);
    outer->setColumnStretch(0, 1);
    outer->setColumnStretch(2, 1);
    outer->addWidget(m_content, 1, 1);
    followScale();

    QObject::connect(registerButton, &QPushButton::clicked, this,
        [this] { openAuthentication(m_model, AuthenticationMode::registration); });
    QObject::connect(
        signInButton, &QPushButton::clicked, this, [this] { openAuthentication(m_model, AuthenticationMode::login); });
}

void LoggedOutLandingView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        followScale();
    QWidget::changeEvent(event);
}

void LoggedOutLandingView::followScale()
{
    m_content->setFixedWidth(460 * theme::scalePercent() / 100);
    const int size = fontMetrics().height() * 4;
    showSymbol(m_icon, QStringLiteral("person.badge.key.fill"), size, theme::accent());
}

} // namespace veyra::ui
