#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class StatusPill;
class SymbolLabel;

// The compact membership summary: plan and state, expiry, devices, the official line and the
// traffic of the period. Embedded by the membership page and the dashboard.
class MembershipSummaryContent : public QWidget {
    Q_OBJECT
public:
    explicit MembershipSummaryContent(AppModel &model, QWidget *parent = nullptr);

private:
    void render();

    AppModel &m_model;
    SymbolLabel *m_plan;
    StatusPill *m_pill;
    SymbolLabel *m_status;
    SymbolLabel *m_expiry;
    SymbolLabel *m_devices;
    SymbolLabel *m_line;
    SymbolLabel *m_traffic;
    QProgressBar *m_trafficBar;
};

} // namespace veyra::ui
