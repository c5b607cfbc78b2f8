#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedLayout;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class OperationButton;

class AccountRow;
class EmptyStateView;
class StatusPill;

// The account page: who is signed in, their membership and line, and the latest order.
class AccountView : public QWidget {
    Q_OBJECT
public:
    explicit AccountView(AppModel &model, QWidget *parent = nullptr);

private:
    void render();

    AppModel &m_model;
    QStackedLayout *m_states;
    EmptyStateView *m_signedOut;
    QWidget *m_signedIn;
    OperationButton *m_refresh;
    QPushButton *m_logout;
    QLabel *m_account;
    StatusPill *m_badge;
    AccountRow *m_plan;
    AccountRow *m_expiry;
    AccountRow *m_line;
};

} // namespace veyra::ui
