#include "PageHeader.h"

#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace veyra::ui {

PageHeader::PageHeader(const QString &title, const QString &subtitle, QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_subtitle(new QLabel(subtitle, this))
    , m_trailing(new QHBoxLayout)
{
    theme::setTextRole(m_title, theme::TextRole::largeTitle, true);
    m_subtitle->setWordWrap(true);
    theme::makeSecondary(m_subtitle);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(theme::unit / 2);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);

    m_trailing->setSpacing(theme::unit);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(theme::unit * 2);
    row->addLayout(texts, 1);
    row->addLayout(m_trailing);
    m_trailing->setAlignment(Qt::AlignTop);
}

void PageHeader::setTitle(const QString &title) { m_title->setText(title); }
void PageHeader::setSubtitle(const QString &subtitle) { m_subtitle->setText(subtitle); }
void PageHeader::addTrailing(QWidget *widget) { m_trailing->addWidget(widget); }

} // namespace veyra::ui
