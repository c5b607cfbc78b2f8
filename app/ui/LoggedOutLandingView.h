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
    // The icon and the column follow the interface scale, so the texts wrap where they do at 100 %.
    void followScale();
    AppModel &m_model;
    QLabel *m_icon;
    QWidget *m_content;
};

} // namespace veyra::ui
