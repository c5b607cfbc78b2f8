#include "ConnectionModeCard.h"

#include "AppModel.h"
#include "Controls.h"
#include "SegmentedControl.h"
#include "StatusPill.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace veyra::ui {

namespace {

QString description(ConnectionMode mode)
{
    switch (mode) {
    case ConnectionMode::rule:
        return QStringLiteral("局域网、私有地址与 .cn 域名直连，其余系统代理流量通过当前节点。");
    case ConnectionMode::global:
        return QStringLiteral("所有系统代理流量都通过当前节点。");
    case ConnectionMode::direct:
        return QStringLiteral("系统代理流量不经过节点，适合临时排查连接问题。");
    }
    return {};
}

QVariant modeValue(ConnectionMode mode)
{
    return QVariant::fromValue(static_cast<int>(mode));
}

} // namespace

ConnectionModeCard::ConnectionModeCard(AppModel &model, QWidget *parent)
    : SectionCard(parent)
    , m_model(model)
    , m_picker(new SegmentedControl(this))
    , m_recommended(nullptr)
    , m_description(new QLabel(this))
    , m_effect(new SymbolLabel({}, {}, this))
{
    auto *title = new SymbolLabel(QStringLiteral("switch.2"), QStringLiteral("连接模式"), this);
    theme::setTextRole(title, theme::TextRole::headline, true);
    title->setSymbolColor(theme::accent());
    body()->addWidget(title);

    QPushButton *rule = m_picker->addSegment(
        QStringLiteral("规则分流"), modeValue(ConnectionMode::rule), QStringLiteral("arrow.triangle.branch"));
    m_picker->addSegment(QStringLiteral("全局代理"), modeValue(ConnectionMode::global), QStringLiteral("globe"));
    m_picker->addSegment(QStringLiteral("直连"), modeValue(ConnectionMode::direct), QStringLiteral("arrow.right"));

    // The recommendation rides inside its segment, at the trailing edge, so it cannot be read
    // as belonging to a neighbour.
    m_recommended = new StatusPill(QStringLiteral("推荐"), theme::accent(), rule);
    auto *inside = new QHBoxLayout(rule);
    inside->setContentsMargins(0, 0, theme::unit, 0);
    inside->addStretch(1);
    inside->addWidget(m_recommended, 0, Qt::AlignVCenter);
    rule->setAccessibleDescription(m_recommended->text());
    m_recommended->installEventFilter(this);
    QObject::connect(rule, &QPushButton::toggled, this, [this](bool checked) {
        // On the chosen segment's accent fill the pill turns white to stay readable.
        m_recommended->setColor(checked ? QColor(Qt::white) : theme::accent());
    });
    placeRecommendation();

    auto *pickerRow = new QHBoxLayout;
    pickerRow->addWidget(m_picker);
    pickerRow->addStretch(1);
    body()->addLayout(pickerRow);

    m_description->setWordWrap(true);
    theme::makeSecondary(m_description);
    body()->addWidget(m_description);
    body()->addWidget(m_effect);

    QObject::connect(m_picker, &SegmentedControl::activated, this, [this](const QVariant &value) {
        // Once the change has ended the picker shows the mode the settings hold, also when the
        // change was refused.
        whenDone(this, m_model.updateProxyMode(static_cast<ConnectionMode>(value.toInt())), [this] {
            m_shownMode.reset();
            render();
        });
    });
    QObject::connect(&m_model, &AppModel::stateChanged, this, &ConnectionModeCard::render);
    render();
}

bool ConnectionModeCard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_recommended && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        placeRecommendation();
    return SectionCard::eventFilter(watched, event);
}

void ConnectionModeCard::placeRecommendation()
{
    // Room on the right of the segment's text for the pill, whatever the text scale.
    auto *segment = static_cast<QPushButton *>(m_recommended->parentWidget());
    const int room = m_recommended->sizeHint().width() + theme::unit * 2;
    const QString rule = QStringLiteral("QPushButton { padding-right: %1px; }").arg(room);
    if (segment->styleSheet() != rule)
        segment->setStyleSheet(rule);
}

void ConnectionModeCard::render()
{
    const ConnectionMode mode = m_model.settings().proxyMode;
    // Only a change of the stored mode moves the picker, so that a choice still being applied
    // is not undone by an unrelated update (traffic figures arrive every second).
    if (m_shownMode != mode) {
        m_picker->setCurrentValue(modeValue(mode));
        m_shownMode = mode;
    }
    m_picker->setEnabled(!m_model.isBusy());
    m_description->setText(description(mode));
    if (m_model.isConnected()) {
        m_effect->setSymbol(QStringLiteral("checkmark.circle.fill"));
        m_effect->setText(QStringLiteral("已立即生效"));
        m_effect->setColor(theme::green());
    } else {
        m_effect->setSymbol(QStringLiteral("clock"));
        m_effect->setText(QStringLiteral("将在下次连接时生效"));
        m_effect->setColor(theme::secondaryText());
    }
}

} // namespace veyra::ui
