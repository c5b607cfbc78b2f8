#include "RecentOrderCard.h"

#include "AccountRow.h"
#include "AppModel.h"
#include "Controls.h"
#include "PlanFeatures.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

RecentOrderCard::RecentOrderCard(AppModel &model, Shows shows, ResumeButton placement, QWidget *parent)
    : SectionCard(parent)
    , m_model(model)
    , m_shows(shows)
{
    m_resume = makeButton(QStringLiteral("继续付款"), this);
    m_resume->setProperty("tint", "accent");
    QObject::connect(m_resume, &QPushButton::clicked, this, [this] { m_model.setShowCheckout(true); });

    auto *title = new SymbolLabel(QStringLiteral("doc.text"), QStringLiteral("最近订单"), this);
    theme::setTextRole(title->textLabel(), theme::TextRole::headline, true);
    auto *heading = new QHBoxLayout;
    heading->addWidget(title, 1);
    if (placement == ResumeButton::inHeading)
        heading->addWidget(m_resume);
    body()->addLayout(heading);

    m_plan = new AccountRow(QStringLiteral("套餐"), {}, this);
    m_number = new AccountRow(QStringLiteral("订单号"), {}, this);
    m_status = new AccountRow(QStringLiteral("状态"), {}, this);
    auto *rows = new QVBoxLayout;
    rows->setSpacing(0);
    rows->addWidget(m_plan);
    rows->addWidget(m_number);
    rows->addWidget(m_status);
    body()->addLayout(rows);

    m_note = new QLabel(QStringLiteral("应用会继续从服务端核验支付结果。"), this);
    m_note->setWordWrap(true);
    theme::makeSecondary(m_note);
    if (placement == ResumeButton::besideNote) {
        auto *actions = new QHBoxLayout;
        actions->setSpacing(theme::unit * 3 / 2);
        actions->addWidget(m_note, 1);
        actions->addWidget(m_resume, 0, Qt::AlignVCenter);
        body()->addLayout(actions);
    } else {
        body()->addWidget(m_note);
    }

    QObject::connect(&m_model, &AppModel::stateChanged, this, &RecentOrderCard::render);
    render();
}

void RecentOrderCard::render()
{
    const std::optional<PaymentOrder> &order = m_model.currentOrder();
    // Only an order that can still be paid is offered again; an expired or cancelled one
    // would lead to a checkout that waits for nothing.
    const bool open = order && !order->isFinal();
    setVisible(m_shows == Shows::latestOrder ? order.has_value() : open);
    if (!order)
        return;
    m_plan->setValue(orderPlanName(*order));
    m_number->setValue(order->orderNo);
    m_status->setValue(orderStatusText(*order));
    m_resume->setVisible(open);
    m_note->setVisible(open);
}

} // namespace veyra::ui
