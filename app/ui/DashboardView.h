#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class ConnectionModeCard;
class MembershipTrafficCard;
class SpeedCard;
class StatusPill;
class SymbolLabel;

// The first page: the one-click connect and disconnect, whether the system is protected, the
// node in use and the line's quality, then the membership and proxy-mode cards.
class DashboardView : public QWidget {
    Q_OBJECT
public:
    explicit DashboardView(AppModel &model, QWidget *parent = nullptr);

    QPushButton *connectButton() const { return m_connect; }
    QProgressBar *busyIndicator() const { return m_busy; }
    MembershipTrafficCard *membershipCard() const { return m_membership; }
    ConnectionModeCard *modeCard() const { return m_mode; }
    SpeedCard *speedCard() const { return m_speed; }

    // The shortcut hint as shown, with the platform's own key names.
    static QString shortcutHint();

private:
    QWidget *makeProtectionCard();
    QWidget *makeNodeCard();
    void render();

    AppModel &m_model;
    SymbolLabel *m_shield = nullptr;
    QLabel *m_headline = nullptr;
    StatusPill *m_pill = nullptr;
    QLabel *m_status = nullptr;
    SymbolLabel *m_nodeMetric = nullptr;
    SymbolLabel *m_qualityMetric = nullptr;
    QPushButton *m_connect = nullptr;
    QProgressBar *m_busy = nullptr;
    QLabel *m_nodeName = nullptr;
    QLabel *m_quality = nullptr;
    QLabel *m_officialLine = nullptr;
    QPushButton *m_retest = nullptr;
    MembershipTrafficCard *m_membership = nullptr;
    ConnectionModeCard *m_mode = nullptr;
    SpeedCard *m_speed = nullptr;
};

} // namespace veyra::ui
