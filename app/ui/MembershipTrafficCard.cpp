#include "MembershipTrafficCard.h"

#include "AppModel.h"
#include "Controls.h"
#include "StatusPill.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

namespace veyra::ui {

namespace {

// Thousandths, so the bar's int range holds any allowance.
constexpr int progressSteps = 1000;

} // namespace

MembershipTrafficCard::MembershipTrafficCard(AppModel &model, QWidget *parent)
    : SectionCard(parent)
    , m_model(model)
    , m_badge(new StatusPill(QStringLiteral("未生效"), theme::orange(), this))
    , m_plan(new QLabel(this))
    , m_expiry(new QLabel(this))
    , m_details(makeButton(QStringLiteral("会员详情"), this))
    , m_percentage(new QLabel(this))
    , m_meter(new QStackedWidget(this))
    , m_progress(new QProgressBar)
    , m_meterSymbol(new SymbolLabel)
    , m_quota(new SymbolLabel(QStringLiteral("chart.bar.fill"), {}, this))
    , m_remaining(new QLabel(this))
{
    auto *title = new SymbolLabel(QStringLiteral("crown.fill"), QStringLiteral("会员权益"), this);
    theme::setTextRole(title, theme::TextRole::headline, true);
    title->setSymbolColor(theme::orange());

    auto *header = new QHBoxLayout;
    header->setSpacing(theme::unit);
    header->addWidget(title);
    header->addWidget(m_badge);
    header->addStretch(1);
    header->addWidget(m_details);
    body()->addLayout(header);

    theme::setTextRole(m_plan, theme::TextRole::title, true);
    m_plan->setWordWrap(true);
    theme::makeSecondary(m_expiry);
    m_expiry->setWordWrap(true);
    auto *membership = new QVBoxLayout;
    membership->setSpacing(theme::unit / 2);
    membership->addWidget(m_plan);
    membership->addWidget(m_expiry);
    body()->addLayout(membership);

    body()->addWidget(makeDivider(this));

    auto *trafficTitle = new QLabel(QStringLiteral("已用流量"), this);
    theme::setTextRole(trafficTitle, theme::TextRole::body, true);
    theme::setTextRole(m_percentage, theme::TextRole::body, true);
    auto *trafficHeader = new QHBoxLayout;
    trafficHeader->addWidget(trafficTitle);
    trafficHeader->addStretch(1);
    trafficHeader->addWidget(m_percentage);

    // The bar and the symbols that stand in for it share one slot of fixed height, so the card
    // does not change size when the allowance arrives.
    m_progress->setRange(0, progressSteps);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(trafficTitle->text());
    auto *barPage = new QWidget;
    auto *barLayout = new QVBoxLayout(barPage);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->addWidget(m_progress, 0, Qt::AlignVCenter);
    auto *symbolPage = new QWidget;
    auto *symbolLayout = new QHBoxLayout(symbolPage);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    m_meterSymbol->setSymbolScale(1.3);
    m_meterSymbol->setSymbolColor(theme::accent());
    symbolLayout->addWidget(m_meterSymbol);
    symbolLayout->addStretch(1);
    m_meter->addWidget(barPage);
    m_meter->addWidget(symbolPage);

    theme::makeSecondary(m_quota->textLabel());
    m_quota->setSymbolColor(theme::secondaryText());
    theme::makeSecondary(m_remaining);
    auto *trafficFooter = new QHBoxLayout;
    trafficFooter->addWidget(m_quota);
    trafficFooter->addStretch(1);
    trafficFooter->addWidget(m_remaining);

    auto *traffic = new QVBoxLayout;
    traffic->setSpacing(theme::unit);
    traffic->addLayout(trafficHeader);
    traffic->addWidget(m_meter);
    traffic->addLayout(trafficFooter);
    body()->addLayout(traffic);

    QObject::connect(m_details, &QPushButton::clicked, this, [this] { m_model.setSelectedPage(AppPage::membership); });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &MembershipTrafficCard::render);
    render();
}

MembershipTrafficCard::Meter MembershipTrafficCard::meter() const
{
    if (m_meter->currentIndex() == 0)
        return Meter::progress;
    return m_meterSymbol->symbol() == QLatin1String("infinity") ? Meter::unlimited : Meter::syncing;
}

void MembershipTrafficCard::render()
{
    const bool active = m_model.membershipActive();
    m_badge->setTitle(active ? QStringLiteral("已生效") : QStringLiteral("未生效"));
    m_badge->setColor(active ? theme::green() : theme::orange());
    m_plan->setText(m_model.membershipPlanText());
    m_expiry->setText(m_model.membershipExpiryText());

    const TrafficUsageSummary usage = m_model.trafficUsage();
    const bool quotaSet = usage.quotaBytes && *usage.quotaBytes > 0;
    if (usage.quotaKnown && quotaSet) {
        m_meter->setCurrentIndex(0);
        const double fraction = m_model.trafficProgress().value_or(0.0);
        m_progress->setValue(static_cast<int>(std::lround(fraction * progressSteps)));
    } else {
        m_meter->setCurrentIndex(1);
        m_meterSymbol->setSymbol(
            usage.quotaKnown ? QStringLiteral("infinity") : QStringLiteral("arrow.triangle.2.circlepath"));
        m_meterSymbol->setAccessibleName(usage.quotaText());
    }
    m_quota->setText(usage.quotaText());
    m_percentage->setText(usage.percentageText().value_or(QStringLiteral("--")));
    m_remaining->setText(QStringLiteral("剩余 ") + usage.remainingText().value_or(QStringLiteral("--")));
}

} // namespace veyra::ui
