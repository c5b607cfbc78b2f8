#include "MembershipSummaryContent.h"

#include "AppModel.h"
#include "StatusPill.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    SymbolLabel *secondaryRow(const QString &symbol, QWidget *parent)
    {
        auto *row = new SymbolLabel(symbol, {}, parent);
        row->setSymbolColor(theme::secondaryText());
        row->textLabel()->setWordWrap(true);
        return row;
    }

} // namespace

MembershipSummaryContent::MembershipSummaryContent(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_plan(new SymbolLabel(QStringLiteral("crown"), {}, this))
    , m_pill(new StatusPill(QStringLiteral("未生效"), theme::secondaryText(), this))
    , m_status(secondaryRow(QStringLiteral("person.crop.circle.badge.checkmark"), this))
    , m_expiry(secondaryRow(QStringLiteral("clock"), this))
    , m_devices(secondaryRow(QStringLiteral("laptopcomputer.and.iphone"), this))
    , m_line(secondaryRow(QStringLiteral("checkmark.shield.fill"), this))
    , m_traffic(secondaryRow(QStringLiteral("chart.pie"), this))
    , m_trafficBar(new QProgressBar(this))
{
    theme::setTextRole(m_plan->textLabel(), theme::TextRole::headline, true);
    m_plan->textLabel()->setWordWrap(true);
    m_trafficBar->setRange(0, 1000);
    m_trafficBar->setTextVisible(false);
    m_trafficBar->setAccessibleName(QStringLiteral("流量使用比例"));

    auto *heading = new QHBoxLayout;
    heading->setSpacing(theme::unit);
    heading->addWidget(m_plan, 1);
    heading->addWidget(m_pill, 0, Qt::AlignVCenter);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(theme::unit);
    column->addLayout(heading);
    column->addWidget(m_status);
    column->addWidget(m_expiry);
    column->addWidget(m_devices);
    column->addWidget(m_line);
    column->addWidget(m_traffic);
    column->addWidget(m_trafficBar);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &MembershipSummaryContent::render);
    render();
}

void MembershipSummaryContent::render()
{
    const bool active = m_model.membershipActive();
    m_plan->setSymbol(active ? QStringLiteral("crown.fill") : QStringLiteral("crown"));
    m_plan->setSymbolColor(active ? theme::orange() : theme::secondaryText());
    m_plan->setText(m_model.membershipPlanText());
    m_pill->setTitle(active ? QStringLiteral("有效") : QStringLiteral("未生效"));
    m_pill->setColor(active ? theme::green() : theme::secondaryText());

    m_status->setText(m_model.membershipStatusText());
    m_expiry->setText(m_model.membershipExpiryText());
    m_devices->setText(m_model.deviceLimitText());
    m_line->setText(m_model.officialLineStatusText());
    m_line->setSymbolColor(m_model.officialLineReady() ? theme::green() : theme::secondaryText());

    m_traffic->setText(m_model.trafficUsage().summaryText());
    const std::optional<double> share = m_model.trafficProgress();
    m_trafficBar->setVisible(share.has_value());
    if (share)
        m_trafficBar->setValue(qRound(*share * 1000.0));
}

} // namespace veyra::ui
