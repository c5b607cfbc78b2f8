#pragma once

class QVBoxLayout;
class QWidget;

namespace veyra::ui {

// Fills `page` with a frameless, transparent scroll area and answers the column inside it, with
// the pages' 24 px margins and `spacing` between its rows. The column's parentWidget() is the
// scrolled content, the parent for what goes into the column.
QVBoxLayout *scrollingPageColumn(QWidget *page, int spacing);

} // namespace veyra::ui
