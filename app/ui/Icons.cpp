#include "Icons.h"

#include "Theme.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
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

    // Draws on demand at whatever size the widget asks for, so icons stay sharp at every
    // interface scale; disabled icons are drawn lighter.
    class SymbolEngine : public QIconEngine {
    public:
        SymbolEngine(QString symbol, QColor color)
            : m_symbol(std::move(symbol))
            , m_color(std::move(color))
        {
        }
        void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
        {
            QColor color = m_color.isValid() ? m_color : theme::text();
            if (mode == QIcon::Disabled)
                color.setAlphaF(0.38);
            QSvgRenderer renderer(coloredSvg(m_symbol, color));
            if (renderer.isValid())
                renderer.render(painter, QRectF(rect));
        }
        QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
        {
            QPixmap image(size);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            paint(&painter, QRect(QPoint(), size), mode, state);
            return image;
        }
        QIconEngine *clone() const override { return new SymbolEngine(m_symbol, m_color); }

    private:
        QString m_symbol;
        QColor m_color;
    };

} // namespace

bool hasSymbol(const QString &symbol) { return QFile::exists(resourcePath(symbol)); }

QIcon symbolIcon(const QString &symbol, const QColor &color) { return QIcon(new SymbolEngine(symbol, color)); }

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
