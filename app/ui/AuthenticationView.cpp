#include "AuthenticationView.h"

#include "AppModel.h"
#include "Controls.h"
#include "Icons.h"
#include "PlatformTexts.h"
#include "SegmentedControl.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    constexpr int sheetWidth = 420;
    constexpr int mobileNumberLength = 11;

    QLineEdit *secureField(const QString &placeholder, QWidget *parent)
    {
        auto *field = new QLineEdit(parent);
        field->setEchoMode(QLineEdit::Password);
        field->setPlaceholderText(placeholder);
        field->setAccessibleName(placeholder);
        return field;
    }

    // The digits of a text as ASCII digits (a full-width "１３８" from an input method counts).
    QString digitsOf(const QString &text, int *cursor)
    {
        QString digits;
        int cursorAfter = 0;
        for (int i = 0; i < text.size(); ++i) {
            const QChar character = text.at(i);
            if (!character.isDigit())
                continue;
            digits += QChar(u'0' + character.digitValue());
            if (i < *cursor)
                ++cursorAfter;
        }
        *cursor = cursorAfter;
        return digits;
    }

} // namespace

AuthenticationView::AuthenticationView(AppModel &model, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_title(new QLabel(this))
    , m_subtitle(new QLabel(QStringLiteral("首次登录后会自动恢复账号，令牌安全保存在") + platformText::keyring() + QStringLiteral("。"), this))
    , m_close(new QPushButton(this))
    , m_modes(new SegmentedControl(this))
    , m_account(new QLineEdit(this))
    , m_password(secureField(QStringLiteral("密码（至少 8 位）"), this))
    , m_confirmation(secureField(QStringLiteral("再次输入密码"), this))
    , m_error(new SymbolLabel(QStringLiteral("exclamationmark.circle.fill"), {}, this))
    , m_progress(makeBusyBar(theme::unit * 8, this))
    , m_submit(new QPushButton(this))
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);

    theme::setTextRole(m_title, theme::TextRole::title, true);
    m_title->setWordWrap(true);
    m_subtitle->setWordWrap(true);
    theme::makeSecondary(m_subtitle);

    m_close->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), theme::secondaryText()));
    m_close->setFlat(true);
    m_close->setAutoDefault(false);
    m_close->setAccessibleName(QStringLiteral("关闭"));
    m_close->setToolTip(QStringLiteral("关闭"));
    m_close->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 2px; }"
                                          "QPushButton:focus { border: 2px solid %1; border-radius: 6px; padding: 0px; }")
                               .arg(theme::accent().name()));

    for (QPushButton *segment : { m_modes->addSegment(QStringLiteral("登录"), false),
             m_modes->addSegment(QStringLiteral("注册"), true) }) {
        segment->setAutoDefault(false);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    m_error->setColor(theme::red());
    m_error->textLabel()->setWordWrap(true);
    m_error->setVisible(false);

    // A small indeterminate bar beside the button while a sign-in runs.
    m_progress->setVisible(false);

    m_submit->setProperty("prominent", true);
    m_submit->setDefault(true);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(theme::unit / 2);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    auto *header = new QHBoxLayout;
    header->setSpacing(theme::unit);
    header->addLayout(texts, 1);
    header->addWidget(m_close, 0, Qt::AlignTop);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(theme::unit);
    actions->addStretch(1);
    actions->addWidget(m_progress, 0, Qt::AlignVCenter);
    actions->addWidget(m_submit);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(theme::unit * 3, theme::unit * 3, theme::unit * 3, theme::unit * 3);
    column->setSpacing(theme::unit * 2);
    column->addLayout(header);
    column->addWidget(m_modes);
    column->addWidget(m_account);
    column->addWidget(m_password);
    column->addWidget(m_confirmation);
    column->addWidget(m_error);
    column->addLayout(actions);

    setTabOrder(m_modes->segments().last(), m_account);
    setTabOrder(m_account, m_password);
    setTabOrder(m_password, m_confirmation);
    setTabOrder(m_confirmation, m_submit);
    setTabOrder(m_submit, m_close);

    QObject::connect(m_modes, &SegmentedControl::activated, this,
        [this](const QVariant &value) { setRegistering(value.toBool()); });
    QObject::connect(m_account, &QLineEdit::textChanged, this, &AuthenticationView::accountEdited);
    QObject::connect(m_submit, &QPushButton::clicked, this, &AuthenticationView::submit);
    QObject::connect(m_close, &QPushButton::clicked, this, &QDialog::reject);

    // Opened in a mode: the form follows it, also when the mode was already the model's.
    QObject::connect(&m_model, &AppModel::authenticationModeChanged, this, &AuthenticationView::followModelMode);
    QObject::connect(&m_model, &AppModel::showAuthenticationChanged, this, [this] {
        if (m_model.showAuthentication())
            followModelMode();
        else if (isVisible())
            done(QDialog::Accepted);
    });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &AuthenticationView::render);

    m_register = m_model.authenticationMode() == AuthenticationMode::registration;
    render();
}

void AuthenticationView::done(int result)
{
    QDialog::done(result);
    m_model.setShowAuthentication(false);
}

void AuthenticationView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_account->setFocus(Qt::OtherFocusReason);
}

void AuthenticationView::hideEvent(QHideEvent *event)
{
    // Each opening starts with an empty form, and no password stays behind in a hidden sheet.
    if (!event->spontaneous()) {
        m_account->clear();
        m_password->clear();
        m_confirmation->clear();
    }
    QDialog::hideEvent(event);
}

void AuthenticationView::followModelMode()
{
    setRegistering(m_model.authenticationMode() == AuthenticationMode::registration);
}

void AuthenticationView::setRegistering(bool registering)
{
    if (registering == m_register)
        return;
    m_register = registering;
    render();
}

void AuthenticationView::accountEdited(const QString &text)
{
    if (m_filtering)
        return;
    if (m_register) {
        // Only the digits of a mobile number, whatever was typed or pasted around them.
        int cursor = m_account->cursorPosition();
        const QString filtered = digitsOf(text, &cursor).left(mobileNumberLength);
        if (filtered != text) {
            m_filtering = true;
            m_account->setText(filtered);
            m_account->setCursorPosition(std::min<int>(cursor, filtered.size()));
            m_filtering = false;
        }
    }
    m_model.setAuthenticationErrorMessage(std::nullopt);
}

void AuthenticationView::submit()
{
    if (m_model.isBusy())
        return;
    if (m_register && m_password->text() != m_confirmation->text()) {
        m_model.setAuthenticationErrorMessage(QStringLiteral("两次输入的密码不一致"));
        return;
    }
    m_model.login(m_account->text(), m_password->text(), m_register);
}

void AuthenticationView::render()
{
    const QString title = m_register ? QStringLiteral("注册维拉账号") : QStringLiteral("登录维拉账号");
    m_title->setText(title);
    setWindowTitle(title);
    m_modes->setCurrentValue(m_register);

    const QString placeholder = m_register ? QStringLiteral("11位手机号") : QStringLiteral("手机号 / 原账号");
    m_account->setPlaceholderText(placeholder);
    m_account->setAccessibleName(placeholder);
    m_confirmation->setVisible(m_register);

    const std::optional<QString> &error = m_model.authenticationErrorMessage();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());

    const bool busy = m_model.isBusy();
    m_progress->setVisible(busy);
    QString action;
    if (busy)
        action = m_register ? QStringLiteral("正在注册…") : QStringLiteral("正在登录…");
    else
        action = m_register ? QStringLiteral("注册并登录") : QStringLiteral("登录");
    m_submit->setText(action);
    m_submit->setAccessibleName(action);
    m_submit->setEnabled(!busy);

    // The sheet's height follows the rows shown; the width stays fixed.
    const QString shape = QString::number(m_register) + error.value_or(QStringLiteral("-"));
    if (shape != m_shape) {
        m_shape = shape;
        adjustSize();
    }
}

} // namespace veyra::ui
