#include "SpeedChart.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace veyra::ui {

SpeedChart::SpeedChart(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("最近一分钟的速度"));
}

QColor SpeedChart::uploadColor() { return theme::accent(); }
QColor SpeedChart::downloadColor() { return theme::green(); }

void SpeedChart::setHistory(const QList<TrafficRateSample> &history)
{
    if (history == m_history)
        return;
    m_history = history;
    update();
}

// As tall as three lines of text, so it grows with the interface scale.
QSize SpeedChart::sizeHint() const { return { theme::unit * 30, fontMetrics().height() * 3 }; }
QSize SpeedChart::minimumSizeHint() const { return { theme::unit * 12, fontMetrics().height() * 3 }; }

void SpeedChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);

    // A faint floor and middle line, so an idle minute still reads as a chart.
    QColor grid = theme::separator();
    painter.setPen(QPen(grid, 1));
    painter.drawLine(QPointF(area.left(), area.bottom()), QPointF(area.right(), area.bottom()));
    painter.setPen(QPen(grid, 1, Qt::DashLine));
    painter.drawLine(QPointF(area.left(), area.center().y()), QPointF(area.right(), area.center().y()));
    if (m_history.isEmpty())
        return;

    qint64 peak = 1;
    for (const TrafficRateSample &rate : m_history)
        peak = std::max({ peak, rate.up, rate.down });
    // One slot per second of the minute; a history shorter than that starts part-way along.
    const double step = area.width() / (AppModel::speedHistoryCapacity - 1);
    const double start = area.right() - step * (m_history.size() - 1);
    const auto line = [&](auto value) {
        QPainterPath path;
        for (qsizetype i = 0; i < m_history.size(); ++i) {
            const double y = area.bottom() - area.height() * 0.92 * double(value(m_history[i])) / double(peak);
            const QPointF point(start + step * i, y);
            if (i == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        return path;
    };
    const qreal width = std::max(1.5, fontMetrics().height() / 10.0);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(downloadColor(), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line([](const TrafficRateSample &rate) { return rate.down; }));
    painter.setPen(QPen(uploadColor(), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line([](const TrafficRateSample &rate) { return rate.up; }));
}

} // namespace veyra::ui
