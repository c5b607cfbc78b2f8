#pragma once

#include <QWidget>

class QLabel;
class QSpinBox;

namespace veyra::ui {

// A labelled local port: a small title above a number field.
class PortField : public QWidget {
    Q_OBJECT
public:
    explicit PortField(const QString &title, QWidget *parent = nullptr);

    QString title() const;
    qint64 value() const;
    // Shows a value without reporting it as an edit.
    void setValue(qint64 value);
    QSpinBox *spinBox() const { return m_spin; }

signals:
    // The user changed the number.
    void edited(qint64 value);

private:
    QLabel *m_title;
    QSpinBox *m_spin;
};

} // namespace veyra::ui
