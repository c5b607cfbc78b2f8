#include "TrayGlyph.h"

#include "Icons.h"
#include "Theme.h"

#include <QPainter>

namespace veyra::ui {

namespace {

const QColor idleGrey(0x6e, 0x75, 0x7e);

class TrayEngine : public PaintedIconEngine {
public:
    explicit TrayEngine(TrayLook look)
        : m_look(std::move(look))
    {
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        const qreal side = std::min(rect.width(), rect.height());
        const QRectF square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2, side, side);
        const qreal ring = std::max(1.0, side * 0.08);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(QColor(255, 255, 255, 235), ring));
        painter->setBrush(m_look.fill);
        painter->drawEllipse(square.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
        painter->restore();
        const qreal inset = side * 0.24;
        symbolIcon(m_look.symbol, Qt::white)
            .paint(painter, square.adjusted(inset, inset, -inset, -inset).toAlignedRect());
    }
    QIconEngine *clone() const override { return new TrayEngine(m_look); }

private:
    TrayLook m_look;
};

} // namespace

TrayLook trayLook(const AppModel &model)
{
    switch (model.connectionState()) {
    case ConnectionState::failed:
        return { QStringLiteral("failed"), theme::red(), QStringLiteral("exclamationmark.triangle.fill") };
    case ConnectionState::connecting:
        return { QStringLiteral("connecting"), theme::accent(), QStringLiteral("arrow.triangle.2.circlepath") };
    case ConnectionState::connected: {
        // The symbol still tells a slow line (a warning sign) and a running test.
        const QString symbol = model.menuBarSystemImage();
        const bool slow = symbol == QLatin1String("exclamationmark.triangle.fill");
        return { QStringLiteral("connected"), slow ? theme::orange() : theme::green(), symbol };
    }
    case ConnectionState::disconnected:
        break;
    }
    return { QStringLiteral("disconnected"), idleGrey, model.menuBarSystemImage() };
}

QIcon trayGlyph(const TrayLook &look) { return QIcon(new TrayEngine(look)); }

} // namespace veyra::ui
