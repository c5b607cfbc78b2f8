#pragma once

#include "Models.h"

#include <QList>
#include <QWidget>

class QGridLayout;
class QLabel;
class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class EmptyStateView;
class SectionCard;
class SegmentedControl;

// The membership page: what the account has now, the payment method and the plans to buy.
class MembershipView : public QWidget {
    Q_OBJECT
public:
    explicit MembershipView(AppModel &model, QWidget *parent = nullptr);

    // "wechat" or "alipay"; anything else is ignored.
    void setPaymentMethod(const QString &method);
    QString paymentMethod() const { return m_paymentMethod; }
    // Plan cards per row: 3 when the page is wide enough, else 2.
    int planColumns() const { return m_planColumns; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void render();
    void rebuildPlans();
    void placePlans();
    int columnsFor(int width) const;

    AppModel &m_model;
    QString m_paymentMethod = QStringLiteral("wechat");
    int m_planColumns = 2;

    SectionCard *m_required;
    SegmentedControl *m_methods;
    EmptyStateView *m_noPlans;
    QWidget *m_planArea;
    QGridLayout *m_planGrid;
    QList<Plan> m_shownPlans;
    QList<QWidget *> m_planCards;
    QList<QPushButton *> m_buyButtons;
};

} // namespace veyra::ui
