#include "SectionCard.h"

#include "Theme.h"

#include <QVBoxLayout>

namespace veyra::ui {

SectionCard::SectionCard(QWidget *parent)
    : QFrame(parent)
    , m_body(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("SectionCard"));
    setAttribute(Qt::WA_StyledBackground);
    m_body->setContentsMargins(theme::unit * 2, theme::unit * 2, theme::unit * 2, theme::unit * 2);
    m_body->setSpacing(theme::unit * 3 / 2);
}

QFrame *makeDivider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("Divider"));
    line->setAttribute(Qt::WA_StyledBackground);
    line->setFixedHeight(1);
    return line;
}

} // namespace veyra::ui
