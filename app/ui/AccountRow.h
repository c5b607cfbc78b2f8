#pragma once

#include <QWidget>

class QLabel;

namespace veyra::ui {

// A title on the left and its value on the right, on one line.
class AccountRow : public QWidget {
    Q_OBJECT
public:
    AccountRow(const QString &title, const QString &value = {}, QWidget *parent = nullptr);
    void setValue(const QString &value);
    QString title() const;
    QString value() const;

private:
    QLabel *m_title;
    QLabel *m_value;
};

} // namespace veyra::ui
