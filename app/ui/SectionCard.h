#pragma once

#include <QFrame>

class QVBoxLayout;

namespace veyra::ui {

// A rounded panel in the control background colour around its content, which goes into body().
class SectionCard : public QFrame {
    Q_OBJECT
public:
    explicit SectionCard(QWidget *parent = nullptr);
    QVBoxLayout *body() const { return m_body; }

private:
    QVBoxLayout *m_body;
};

// A thin horizontal rule.
QFrame *makeDivider(QWidget *parent = nullptr);

} // namespace veyra::ui
