#pragma once

#include "SectionCard.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class StatusPill;
class SymbolLabel;

// The dashboard's card of membership and traffic: the plan, its expiry, and how much of the
// allowance is used.
class MembershipTrafficCard : public SectionCard {
    Q_OBJECT
public:
    explicit MembershipTrafficCard(AppModel &model, QWidget *parent = nullptr);

    // The traffic meter shows one of these.
    enum class Meter { progress, unlimited, syncing };
    Meter meter() const;

private:
    void render();

    AppModel &m_model;
    StatusPill *m_badge;
    QLabel *m_plan;
    QLabel *m_expiry;
    QPushButton *m_details;
    QLabel *m_percentage;
    QStackedWidget *m_meter;
    QProgressBar *m_progress;
    SymbolLabel *m_meterSymbol;
    SymbolLabel *m_quota;
    QLabel *m_remaining;
};

} // namespace veyra::ui
