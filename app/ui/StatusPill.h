#pragma once

#include <QColor>
#include <QLabel>

namespace veyra::ui {

// A short state in a small font inside a capsule tinted with its colour.
class StatusPill : public QLabel {
    Q_OBJECT
public:
    StatusPill(const QString &title, const QColor &color, QWidget *parent = nullptr);
    void setTitle(const QString &title);
    void setColor(const QColor &color);
    QString title() const { return text(); }
    QColor color() const { return m_color; }

private:
    void restyle();
    QColor m_color;
};

} // namespace veyra::ui
