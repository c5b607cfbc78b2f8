#pragma once

#include "AppModel.h"

#include <QWidget>

namespace veyra::ui {

// The last minute of upload and download rates as two lines over a shared scale, the newest
// second at the right edge. Drawn, not a chart library: two lines need no more.
class SpeedChart : public QWidget {
    Q_OBJECT
public:
    explicit SpeedChart(QWidget *parent = nullptr);

    void setHistory(const QList<TrafficRateSample> &history);
    const QList<TrafficRateSample> &history() const { return m_history; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static QColor uploadColor();
    static QColor downloadColor();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<TrafficRateSample> m_history;
};

} // namespace veyra::ui
