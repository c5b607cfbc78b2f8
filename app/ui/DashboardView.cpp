#include "DashboardView.h"

#include "AppModel.h"
#include "ConnectionModeCard.h"
#include "Controls.h"
#include "Icons.h"
#include "MembershipTrafficCard.h"
#include "Navigation.h"
#include "PageHeader.h"
#include "PageScaffold.h"
#include "SectionCard.h"
#include "SpeedCard.h"
#include "StatusPill.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

QString DashboardView::shortcutHint()
{
    const QString keys = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C).toString(QKeySequence::NativeText);
    return QStringLiteral("快捷键：") + keys + QStringLiteral(" 连接或断开");
}

DashboardView::DashboardView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    QVBoxLayout *column = scrollingPageColumn(this, theme::unit * 2);
    QWidget *content = column->parentWidget();
    column->addWidget(new PageHeader(QStringLiteral("一键安全连接"),
        QStringLiteral("官方线路自动下发；连接前验证可用性，断开与退出时恢复原网络设置。"), content));
    column->addWidget(makeProtectionCard());
    column->addWidget(makeNodeCard());
    // The line's live speed beside the traffic it adds up to.
    m_membership = new MembershipTrafficCard(m_model, content);
    m_speed = new SpeedCard(m_model, content);
    auto *traffic = new QHBoxLayout;
    traffic->setSpacing(theme::unit * 2);
    traffic->addWidget(m_membership, 1);
    traffic->addWidget(m_speed, 1);
    column->addLayout(traffic);
    m_mode = new ConnectionModeCard(m_model, content);
    column->addWidget(m_mode);
    column->addStretch(1);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &DashboardView::render);
    render();
}

QWidget *DashboardView::makeProtectionCard()
{
    auto *card = new SectionCard;

    m_shield = new SymbolLabel({}, {}, card);
    m_shield->setSymbolScale(2.2);
    m_shield->textLabel()->hide();
    m_headline = new QLabel(card);
    theme::setTextRole(m_headline, theme::TextRole::title, true);
    m_pill = new StatusPill(QStringLiteral("已断开"), theme::secondaryText(), card);
    m_status = new QLabel(card);
    m_status->setWordWrap(true);
    theme::makeSecondary(m_status);

    auto *headlineRow = new QHBoxLayout;
    headlineRow->setSpacing(theme::unit);
    headlineRow->addWidget(m_headline);
    headlineRow->addWidget(m_pill, 0, Qt::AlignVCenter);
    headlineRow->addStretch(1);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(theme::unit / 2);
    texts->addLayout(headlineRow);
    texts->addWidget(m_status);

    m_connect = new SteadyButton({ QStringLiteral("智能连接"), QStringLiteral("断开") }, card);
    theme::setTextRole(m_connect, theme::TextRole::headline, true);
    m_connect->setMinimumHeight(theme::unit * 5);

    auto *top = new QHBoxLayout;
    top->setSpacing(theme::unit * 2);
    top->addWidget(m_shield, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    top->addWidget(m_connect, 0, Qt::AlignVCenter);
    card->body()->addLayout(top);
    card->body()->addWidget(makeDivider(card));

    m_nodeMetric = new SymbolLabel(QStringLiteral("location.fill"), {}, card);
    m_nodeMetric->setSymbolColor(theme::accent());
    m_qualityMetric = new SymbolLabel(QStringLiteral("speedometer"), {}, card);
    m_qualityMetric->setSymbolColor(theme::accent());
    auto *metrics = new QHBoxLayout;
    metrics->setSpacing(theme::unit * 3);
    metrics->addWidget(m_nodeMetric, 1);
    metrics->addWidget(m_qualityMetric, 1);
    card->body()->addLayout(metrics);

    // The hint is always there (the shortcut works whenever the button does); the progress
    // bar beside it keeps its room while hidden so the card never changes height or shifts.
    auto *hint = new SymbolLabel(QStringLiteral("keyboard"), shortcutHint(), card);
    theme::setTextRole(hint, theme::TextRole::small);
    theme::makeSecondary(hint->textLabel());
    hint->setSymbolColor(theme::secondaryText());
    m_busy = makeBusyBar(theme::unit * 12, card);
    auto *hintRow = new QHBoxLayout;
    hintRow->setSpacing(theme::unit * 3 / 2);
    hintRow->addWidget(hint);
    hintRow->addWidget(m_busy, 0, Qt::AlignVCenter);
    hintRow->addStretch(1);
    card->body()->addLayout(hintRow);

    QObject::connect(m_connect, &QPushButton::clicked, this, [this] { toggleConnection(m_model); });
    return card;
}

QWidget *DashboardView::makeNodeCard()
{
    auto *card = new SectionCard;
    auto *title
        = new SymbolLabel(QStringLiteral("point.3.connected.trianglepath.dotted"), QStringLiteral("当前节点"), card);
    theme::setTextRole(title, theme::TextRole::headline, true);
    title->setSymbolColor(theme::accent());

    QPushButton *nodes = makeButton(QStringLiteral("查看节点"), card);
    m_retest = makeButton(QStringLiteral("重新测速"), card, QStringLiteral("speedometer"));
    auto *header = new QHBoxLayout;
    header->setSpacing(theme::unit);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(nodes);
    header->addWidget(m_retest);
    card->body()->addLayout(header);

    m_nodeName = new QLabel(card);
    theme::setTextRole(m_nodeName, theme::TextRole::title, true);
    m_nodeName->setWordWrap(true);
    m_quality = new QLabel(card);
    theme::setTextRole(m_quality, theme::TextRole::body, true);
    m_officialLine = new QLabel(card);
    m_officialLine->setWordWrap(true);
    theme::makeSecondary(m_officialLine);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(theme::unit / 2);
    lines->addWidget(m_nodeName);
    lines->addWidget(m_quality);
    lines->addWidget(m_officialLine);
    card->body()->addLayout(lines);

    QObject::connect(nodes, &QPushButton::clicked, this, [this] { m_model.setSelectedPage(AppPage::nodes); });
    QObject::connect(m_retest, &QPushButton::clicked, this, [this] { m_model.testAllNodes(); });
    return card;
}

void DashboardView::render()
{
    const bool connected = m_model.isConnected();
    const bool busy = m_model.isBusy();

    m_shield->setSymbol(connected ? QStringLiteral("checkmark.shield.fill") : QStringLiteral("shield.slash"));
    m_shield->setSymbolColor(connected ? theme::green() : theme::secondaryText());
    m_headline->setText(connected ? QStringLiteral("网络保护已开启") : QStringLiteral("网络保护未开启"));
    m_pill->setTitle(connected ? QStringLiteral("已连接") : QStringLiteral("已断开"));
    m_pill->setColor(connected ? theme::green() : theme::secondaryText());
    m_status->setText(m_model.statusMessage());

    const QString node = m_model.activeNodeName();
    const QString quality = m_model.connectionQualityText();
    m_nodeMetric->setText(node);
    m_qualityMetric->setText(quality);

    const QString action = connected ? QStringLiteral("断开") : QStringLiteral("智能连接");
    if (m_connect->text() != action || m_connect->icon().isNull()) {
        m_connect->setText(action);
        m_connect->setAccessibleName(action);
        // White on the prominent accent fill, the text colour on the plain button.
        m_connect->setIcon(symbolIcon(connected ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"),
            connected ? QColor() : QColor(Qt::white)));
        setStyleProperty(m_connect, "prominent", !connected);
    }
    m_connect->setEnabled(!busy);
    m_busy->setVisible(busy);

    m_nodeName->setText(node);
    m_quality->setText(quality);
    const std::optional<int> delay = m_model.currentDelay();
    theme::setTextColor(m_quality, delay ? theme::latencyColor(*delay) : theme::secondaryText());
    m_officialLine->setText(m_model.officialLineStatusText());
    m_retest->setEnabled(connected && !m_model.isTesting());
}

} // namespace veyra::ui
