#include "Icons.h"

#include "Theme.h"

#include <QFile>
#include <QHash>
#include <QEvent>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QSet>
#include <QSvgRenderer>

namespace veyra::ui {

namespace {

    QString resourcePath(const QString &symbol) { return QStringLiteral(":/icons/%1.svg").arg(symbol); }

    // The drawing's text with its colour filled in; the bundled files draw in "currentColor".
    QByteArray coloredSvg(const QString &symbol, const QColor &color)
    {
        static QHash<QString, QByteArray> sources;
        auto found = sources.find(symbol);
        if (found == sources.end()) {
            QFile file(resourcePath(symbol));
            QByteArray bytes;
            if (file.open(QIODevice::ReadOnly))
                bytes = file.readAll();
            else {
                static QSet<QString> warned;
                if (!warned.contains(symbol)) {
                    warned.insert(symbol);
                    qWarning("no drawing for symbol %s", qPrintable(symbol));
                }
            }
            found = sources.insert(symbol, bytes);
        }
        QByteArray svg = *found;
        return svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    }

    // Draws on demand at whatever size and pixel ratio the widget asks for, so icons stay
    // sharp at every interface scale and on every screen; disabled icons are drawn lighter,
    // and a checked button (the blue segment) gets its own colour.
    class SymbolEngine : public PaintedIconEngine {
    public:
        SymbolEngine(QString symbol, QColor color, QColor checkedColor)
            : m_symbol(std::move(symbol))
            , m_color(std::move(color))
            , m_checkedColor(std::move(checkedColor))
        {
        }
        void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
        {
            QColor color = m_color.isValid() ? m_color : theme::text();
            if (state == QIcon::On && m_checkedColor.isValid())
                color = m_checkedColor;
            if (mode == QIcon::Disabled)
                color.setAlphaF(0.38);
            QSvgRenderer renderer(coloredSvg(m_symbol, color));
            if (renderer.isValid())
                renderer.render(painter, QRectF(rect));
        }
        QIconEngine *clone() const override { return new SymbolEngine(m_symbol, m_color, m_checkedColor); }

    private:
        QString m_symbol;
        QColor m_color;
        QColor m_checkedColor;
    };

    // Redraws a label's symbol for its current screen when the window changes screens or is
    // first shown there.
    class SymbolRefresher : public QObject {
    public:
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::ScreenChangeInternal || event->type() == QEvent::Show) {
                auto *label = static_cast<QLabel *>(watched);
                const qreal ratio = label->devicePixelRatioF();
                if (label->pixmap().devicePixelRatio() != ratio)
                    label->setPixmap(symbolPixmap(label->property("symbolName").toString(),
                        label->property("symbolSize").toInt(), label->property("symbolColor").value<QColor>(), ratio));
            }
            return false;
        }
    };

} // namespace

QPixmap PaintedIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return scaledPixmap(size, mode, state, 1.0);
}

QPixmap PaintedIconEngine::scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale)
{
    QPixmap image(size * scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(&painter, QRect(QPoint(), image.size()), mode, state);
    painter.end();
    image.setDevicePixelRatio(scale);
    return image;
}

void showSymbol(QLabel *label, const QString &symbol, int size, const QColor &color)
{
    static SymbolRefresher refresher;
    if (!label->property("symbolName").isValid())
        label->installEventFilter(&refresher);
    label->setProperty("symbolName", symbol);
    label->setProperty("symbolSize", size);
    label->setProperty("symbolColor", color);
    label->setPixmap(symbolPixmap(symbol, size, color, label->devicePixelRatioF()));
}

bool hasSymbol(const QString &symbol) { return QFile::exists(resourcePath(symbol)); }

QIcon symbolIcon(const QString &symbol, const QColor &color, const QColor &checkedColor)
{
    return QIcon(new SymbolEngine(symbol, color, checkedColor));
}

QPixmap symbolPixmap(const QString &symbol, int size, const QColor &color, qreal devicePixelRatio)
{
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap image(pixels, pixels);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer renderer(coloredSvg(symbol, color.isValid() ? color : theme::text()));
    if (renderer.isValid())
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace veyra::ui
