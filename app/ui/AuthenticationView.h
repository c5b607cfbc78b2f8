#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class SegmentedControl;
class SymbolLabel;

// The sign-in and registration sheet. The form fields are its own; the model brings the mode
// it is opened in, the error to show and whether a sign-in is running. Closing it in any way
// (its close button, Esc, the window's close) clears the model's showAuthentication.
class AuthenticationView : public QDialog {
    Q_OBJECT
public:
    explicit AuthenticationView(AppModel &model, QWidget *parent = nullptr);

    bool isRegistering() const { return m_register; }
    QLineEdit *accountField() const { return m_account; }
    QLineEdit *passwordField() const { return m_password; }
    QLineEdit *confirmationField() const { return m_confirmation; }
    QPushButton *submitButton() const { return m_submit; }

    void done(int result) override;

protected:
    void hideEvent(QHideEvent *event) override;
    // Typing starts in the account field, not on the close button.
    void showEvent(QShowEvent *event) override;

private:
    void setRegistering(bool registering);
    void followModelMode();
    void accountEdited(const QString &text);
    void submit();
    void render();

    AppModel &m_model;
    bool m_register = false;
    bool m_filtering = false;
    QString m_shape;

    QLabel *m_title;
    QLabel *m_subtitle;
    QPushButton *m_close;
    SegmentedControl *m_modes;
    QLineEdit *m_account;
    QLineEdit *m_password;
    QLineEdit *m_confirmation;
    SymbolLabel *m_error;
    QProgressBar *m_progress;
    QPushButton *m_submit;
};

} // namespace veyra::ui
