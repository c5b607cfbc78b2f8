#pragma once

#include <QWidget>

class QLabel;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

// What a signed-out window shows: why there is nothing to use yet and the two ways in.
class LoggedOutLandingView : public QWidget {
    Q_OBJECT
public:
    explicit LoggedOutLandingView(AppModel &model, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void renderIcon();
    AppModel &m_model;
    QLabel *m_icon;
};

} // namespace veyra::ui
