#include "PageScaffold.h"

#include "Theme.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace veyra::ui {

QVBoxLayout *scrollingPageColumn(QWidget *page, int spacing)
{
    auto *scroll = new QScrollArea(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);
    // After setWidget, which turns the content's background filling on: the window's
    // background shows through.
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    auto *outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(theme::unit * 3, theme::unit * 3, theme::unit * 3, theme::unit * 3);
    column->setSpacing(spacing);
    return column;
}

} // namespace veyra::ui
