#pragma once

#include "SectionCard.h"

class QLabel;
class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class AccountRow;

// The latest order: its plan, number and status, and "继续付款" back to its checkout while it
// still waits for a payment.
class RecentOrderCard : public SectionCard {
    Q_OBJECT
public:
    // Which orders the card is shown for: the latest one whatever became of it, or only one
    // that can still be paid.
    enum class Shows { latestOrder, openOrder };
    // Where "继续付款" sits: at the end of the title line, or under the rows beside the note.
    enum class ResumeButton { inHeading, besideNote };

    RecentOrderCard(AppModel &model, Shows shows, ResumeButton placement, QWidget *parent = nullptr);

private:
    void render();

    AppModel &m_model;
    Shows m_shows;
    AccountRow *m_plan;
    AccountRow *m_number;
    AccountRow *m_status;
    QLabel *m_note;
    QPushButton *m_resume;
};

} // namespace veyra::ui
