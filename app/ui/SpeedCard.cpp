#include "SpeedCard.h"

#include "AppModel.h"
#include "Controls.h"
#include "Navigation.h"
#include "SpeedChart.h"
#include "SpeedFormat.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace veyra::ui {

namespace {
const QString copyTitle = QStringLiteral("复制终端代理命令");
const QString copiedTitle = QStringLiteral("已复制");
constexpr int copiedShownMs = 1500;
} // namespace

SpeedCard::SpeedCard(AppModel &model, QWidget *parent)
    : SectionCard(parent)
    , m_model(model)
    , m_upload(new QLabel(this))
    , m_download(new QLabel(this))
    , m_idle(new QLabel(QStringLiteral("连接后显示实时速度"), this))
    , m_chart(new SpeedChart(this))
    , m_copy(new SteadyButton({ copyTitle, copiedTitle }, this))
{
    auto *title = new SymbolLabel(QStringLiteral("speedometer"), QStringLiteral("实时速度"), this);
    theme::setTextRole(title, theme::TextRole::headline, true);
    title->setSymbolColor(theme::accent());
    m_copy->setText(copyTitle);
    m_copy->setAccessibleName(copyTitle);
    m_copy->setToolTip(QStringLiteral("让终端里的程序也经过本机代理"));
    auto *header = new QHBoxLayout;
    header->setSpacing(theme::unit);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(m_copy);
    body()->addLayout(header);

    // Each rate in its line's colour, so the numbers double as the chart's legend.
    for (QLabel *label : { m_upload, m_download })
        theme::setTextRole(label, theme::TextRole::title, true);
    theme::setTextColor(m_upload, SpeedChart::uploadColor());
    theme::setTextColor(m_download, SpeedChart::downloadColor());
    theme::makeSecondary(m_idle);
    auto *rates = new QHBoxLayout;
    rates->setSpacing(theme::unit * 3);
    rates->addWidget(m_upload);
    rates->addWidget(m_download);
    rates->addWidget(m_idle);
    rates->addStretch(1);
    body()->addLayout(rates);
    body()->addWidget(m_chart);
    body()->addStretch(1);

    QObject::connect(m_copy, &QPushButton::clicked, this, [this] {
        copyTerminalProxyCommand(m_model);
        m_copy->setText(copiedTitle);
        QTimer::singleShot(copiedShownMs, this, [copy = QPointer<QPushButton>(m_copy)] {
            if (copy)
                copy->setText(copyTitle);
        });
    });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &SpeedCard::render);
    QObject::connect(&m_model, &AppModel::speedChanged, this, [this] {
        if (isVisible())
            renderSpeed();
    });
    render();
}

QString SpeedCard::speedLine() const
{
    return m_idle->isHidden() ? m_upload->text() + QLatin1Char(' ') + m_download->text() : m_idle->text();
}

void SpeedCard::showEvent(QShowEvent *event)
{
    // What came while the card was hidden is drawn now, once.
    renderSpeed();
    SectionCard::showEvent(event);
}

void SpeedCard::render()
{
    m_copy->setVisible(m_model.isConnected());
    renderSpeed();
}

void SpeedCard::renderSpeed()
{
    const std::optional<TrafficRateSample> rate = m_model.currentSpeed();
    m_upload->setVisible(rate.has_value());
    m_download->setVisible(rate.has_value());
    m_idle->setVisible(!rate);
    if (rate) {
        m_upload->setText(uploadText(*rate));
        m_download->setText(downloadText(*rate));
    }
    m_chart->setHistory(m_model.speedHistory());
}

} // namespace veyra::ui
