#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace veyra::ui {

// The top of every page: a large bold title over a secondary subtitle, with room on the right
// for the page's buttons.
class PageHeader : public QWidget {
    Q_OBJECT
public:
    PageHeader(const QString &title, const QString &subtitle, QWidget *parent = nullptr);
    void setTitle(const QString &title);
    void setSubtitle(const QString &subtitle);
    // Adds a widget at the trailing edge, beside the texts.
    void addTrailing(QWidget *widget);

    QLabel *titleLabel() const { return m_title; }
    QLabel *subtitleLabel() const { return m_subtitle; }

private:
    QLabel *m_title;
    QLabel *m_subtitle;
    QHBoxLayout *m_trailing;
};

} // namespace veyra::ui
