#pragma once

#include "AppSettings.h"
#include "SectionCard.h"

#include <optional>

class QLabel;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class SegmentedControl;
class StatusPill;
class SymbolLabel;

// The dashboard's card for the proxy mode: rule, global or direct, what the chosen one does,
// and when a change takes effect.
class ConnectionModeCard : public SectionCard {
    Q_OBJECT
public:
    explicit ConnectionModeCard(AppModel &model, QWidget *parent = nullptr);

    SegmentedControl *picker() const { return m_picker; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void render();
    void placeRecommendation();

    AppModel &m_model;
    SegmentedControl *m_picker;
    StatusPill *m_recommended;
    QLabel *m_description;
    SymbolLabel *m_effect;
    std::optional<ConnectionMode> m_shownMode;
};

} // namespace veyra::ui
