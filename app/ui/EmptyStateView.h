#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace veyra::ui {

class SymbolLabel;

// A page with nothing to show: icon, title and description centred, and optionally a button.
class EmptyStateView : public QWidget {
    Q_OBJECT
public:
    EmptyStateView(
        const QString &title, const QString &systemImage, const QString &description, QWidget *parent = nullptr);
    void setContent(const QString &title, const QString &systemImage, const QString &description);
    QPushButton *addButton(const QString &text, const QString &systemImage = {});
    // Places a button made elsewhere where addButton() would.
    void addButton(QPushButton *button);

    QString title() const;
    QString systemImage() const { return m_systemImage; }
    QString description() const;

private:
    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_description;
    QVBoxLayout *m_layout;
    QString m_systemImage;

protected:
    void changeEvent(QEvent *event) override;
    void renderIcon();
};

} // namespace veyra::ui
