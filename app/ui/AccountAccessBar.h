#pragma once

#include <QWidget>

class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class StatusPill;
class SymbolLabel;

// The strip above every page: who is signed in and the membership state with a sign-out
// button, or the register and sign-in buttons when nobody is.
class AccountAccessBar : public QWidget {
    Q_OBJECT
public:
    explicit AccountAccessBar(AppModel &model, QWidget *parent = nullptr);

private:
    void render();

    AppModel &m_model;
    SymbolLabel *m_account;
    StatusPill *m_membership;
    QPushButton *m_signOut;
    QPushButton *m_register;
    QPushButton *m_signIn;
};

} // namespace veyra::ui
