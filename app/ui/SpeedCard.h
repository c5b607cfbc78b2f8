#pragma once

#include "SectionCard.h"

class QLabel;
class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class SpeedChart;

// The dashboard's live speed: the current upload and download rates, the last minute of both
// as a chart, and the terminal proxy command to copy while connected. The rates come every
// second; they are drawn only while the card can be seen.
class SpeedCard : public SectionCard {
    Q_OBJECT
public:
    explicit SpeedCard(AppModel &model, QWidget *parent = nullptr);

    // "↑ … ↓ …" while connected, else the hint that speeds come with a connection.
    QString speedLine() const;
    SpeedChart *chart() const { return m_chart; }
    QPushButton *copyButton() const { return m_copy; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void render();
    void renderSpeed();

    AppModel &m_model;
    QLabel *m_upload;
    QLabel *m_download;
    QLabel *m_idle;
    SpeedChart *m_chart;
    QPushButton *m_copy;
};

} // namespace veyra::ui
