#include "MembershipView.h"

#include "AppModel.h"
#include "Controls.h"
#include "EmptyStateView.h"
#include "Icons.h"
#include "MembershipSummaryContent.h"
#include "PageScaffold.h"
#include "PlanFeatures.h"
#include "RecentOrderCard.h"
#include "SectionCard.h"
#include "SegmentedControl.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    constexpr int cardGap = theme::unit * 2;

    QLabel *wrapped(const QString &text, QWidget *parent)
    {
        auto *label = new QLabel(text, parent);
        label->setWordWrap(true);
        return label;
    }

} // namespace

MembershipView::MembershipView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    QVBoxLayout *column = scrollingPageColumn(this, cardGap);
    QWidget *content = column->parentWidget();

    // Without an active membership: why the rest of the application is closed.
    m_required = new SectionCard(content);
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 2);
        auto *icon = new QLabel(m_required);
        showSymbol(icon, QStringLiteral("lock.shield.fill"), 36, theme::orange());
        icon->setAlignment(Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(theme::unit / 2);
        auto *title = new QLabel(QStringLiteral("需要有效会员"), m_required);
        theme::setTextRole(title, theme::TextRole::headline, true);
        auto *text
            = wrapped(QStringLiteral("完成购买并等待服务端确认后，首页、节点和连接功能会自动开放。"), m_required);
        theme::makeSecondary(text);
        texts->addWidget(title);
        texts->addWidget(text);
        row->addWidget(icon, 0, Qt::AlignTop);
        row->addLayout(texts, 1);
        m_required->body()->addLayout(row);
    }
    column->addWidget(m_required);

    // What the account has now.
    auto *rights = new SectionCard(content);
    {
        auto *refresh = new OperationButton(
            QStringLiteral("刷新权益"), QStringLiteral("正在刷新…"), rights, QStringLiteral("arrow.clockwise"));
        QObject::connect(refresh, &QPushButton::clicked, this,
            [this, refresh] { refresh->run([this] { return m_model.refreshAccount(false); }); });
        auto *title = new QLabel(QStringLiteral("当前权益"), rights);
        theme::setTextRole(title, theme::TextRole::headline, true);
        auto *heading = new QHBoxLayout;
        heading->addWidget(title, 1);
        heading->addWidget(refresh);
        rights->body()->addLayout(heading);
        rights->body()->addWidget(makeDivider(rights));
        rights->body()->addWidget(new MembershipSummaryContent(m_model, rights));
    }
    column->addWidget(rights);

    // An order still waiting for its payment can be taken up again from here: this page is
    // all an account without membership sees, and a resumed order opens no sheet by itself.
    column->addWidget(new RecentOrderCard(
        m_model, RecentOrderCard::Shows::openOrder, RecentOrderCard::ResumeButton::inHeading, content));

    // The payment method, then the plans.
    {
        auto *row = new QHBoxLayout;
        row->setSpacing(theme::unit * 3 / 2);
        auto *label = new QLabel(QStringLiteral("支付方式"), content);
        theme::setTextRole(label, theme::TextRole::headline, true);
        m_methods = new SegmentedControl(content);
        m_methods->addSegment(QStringLiteral("微信支付"), QStringLiteral("wechat"));
        m_methods->addSegment(QStringLiteral("支付宝"), QStringLiteral("alipay"));
        m_methods->setCurrentValue(m_paymentMethod);
        QObject::connect(m_methods, &SegmentedControl::activated, this,
            [this](const QVariant &value) { m_paymentMethod = value.toString(); });
        row->addWidget(label);
        row->addWidget(m_methods);
        row->addStretch(1);
        column->addLayout(row);
    }

    m_noPlans = new EmptyStateView(QStringLiteral("暂时无法加载套餐"), QStringLiteral("exclamationmark.triangle.fill"),
        QStringLiteral("请检查网络后重试。"), content);
    auto *reload = new OperationButton(
        QStringLiteral("重新加载"), QStringLiteral("正在加载…"), m_noPlans, QStringLiteral("arrow.clockwise"));
    m_noPlans->addButton(reload);
    QObject::connect(reload, &QPushButton::clicked, this,
        [this, reload] { reload->run([this] { return m_model.refreshPlans(false); }); });
    column->addWidget(m_noPlans);

    m_planArea = new QWidget(content);
    m_planGrid = new QGridLayout(m_planArea);
    m_planGrid->setContentsMargins(0, 0, 0, 0);
    m_planGrid->setSpacing(cardGap);
    m_planArea->installEventFilter(this);
    column->addWidget(m_planArea);

    auto *note = wrapped(
        QStringLiteral("付款结果以服务端订单状态为准。应用不会仅凭浏览器跳转判定支付成功，也不会在本地伪造会员权益。"),
        content);
    theme::setTextRole(note, theme::TextRole::small);
    theme::makeSecondary(note);
    column->addWidget(note);
    column->addStretch(1);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &MembershipView::render);
    render();
}

void MembershipView::setPaymentMethod(const QString &method)
{
    if (method != QLatin1String("wechat") && method != QLatin1String("alipay"))
        return;
    m_paymentMethod = method;
    m_methods->setCurrentValue(method);
}

int MembershipView::columnsFor(int width) const
{
    // A card needs room for its longest feature line at the current text size.
    const int cardMinimum = fontMetrics().height() * 11;
    return width >= 3 * cardMinimum + 2 * cardGap ? 3 : 2;
}

bool MembershipView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_planArea && event->type() == QEvent::Resize) {
        const int columns = columnsFor(m_planArea->width());
        if (columns != m_planColumns) {
            m_planColumns = columns;
            placePlans();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MembershipView::render()
{
    m_required->setVisible(!m_model.membershipActive());

    if (m_model.plans() != m_shownPlans)
        rebuildPlans();
    m_noPlans->setVisible(m_shownPlans.isEmpty());
    m_planArea->setVisible(!m_shownPlans.isEmpty());
    for (QPushButton *buy : m_buyButtons)
        buy->setEnabled(!m_model.isBusy());
}

void MembershipView::rebuildPlans()
{
    qDeleteAll(m_planCards);
    m_planCards.clear();
    m_buyButtons.clear();
    m_shownPlans = m_model.plans();

    for (const Plan &plan : m_shownPlans) {
        auto *card = new SectionCard(m_planArea);
        auto *name = new QLabel(plan.name, card);
        name->setWordWrap(true);
        theme::setTextRole(name, theme::TextRole::headline, true);
        auto *price = new QLabel(priceText(plan.priceFen), card);
        theme::setTextRole(price, theme::TextRole::largeTitle, true);
        theme::setTextColor(price, theme::accent());
        card->body()->addWidget(name);
        card->body()->addWidget(price);
        card->body()->addWidget(makeDivider(card));
        for (const QString &feature : displayFeatures(plan)) {
            auto *line = new SymbolLabel(QStringLiteral("checkmark.circle.fill"), feature, card);
            line->setSymbolColor(theme::green());
            line->textLabel()->setWordWrap(true);
            card->body()->addWidget(line);
        }
        card->body()->addStretch(1);
        QPushButton *buy = makeButton(QStringLiteral("立即购买"), card);
        buy->setProperty("prominent", true);
        buy->setAccessibleDescription(plan.name + QLatin1Char(' ') + priceText(plan.priceFen));
        QObject::connect(
            buy, &QPushButton::clicked, this, [this, plan] { m_model.createOrder(plan, m_paymentMethod); });
        card->body()->addWidget(buy);
        m_planCards << card;
        m_buyButtons << buy;
    }
    m_planColumns = columnsFor(m_planArea->width());
    placePlans();
}

void MembershipView::placePlans()
{
    for (QWidget *card : m_planCards)
        m_planGrid->removeWidget(card);
    for (int column = 0; column < 3; ++column)
        m_planGrid->setColumnStretch(column, column < m_planColumns ? 1 : 0);
    for (qsizetype i = 0; i < m_planCards.size(); ++i)
        m_planGrid->addWidget(
            m_planCards.at(i), static_cast<int>(i / m_planColumns), static_cast<int>(i % m_planColumns));
}

} // namespace veyra::ui
