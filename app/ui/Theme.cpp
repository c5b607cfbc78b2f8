#include "Theme.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>
#include <QStyleFactory>
#include <QWidget>

namespace veyra::ui::theme {

namespace {

constexpr double baseFontPoints = 10.0;
int currentScale = 100;

const char *roleProperty = "veyraTextRole";
const char *boldProperty = "veyraTextBold";

double factor(TextRole role)
{
    switch (role) {
    case TextRole::caption:
        return 0.85;
    case TextRole::small:
        return 0.92;
    case TextRole::body:
        return 1.0;
    case TextRole::headline:
        return 1.1;
    case TextRole::title:
        return 1.35;
    case TextRole::largeTitle:
        return 1.75;
    case TextRole::display:
        return 2.6;
    }
    return 1.0;
}

void applyRole(QWidget *widget)
{
    const QVariant role = widget->property(roleProperty);
    if (!role.isValid())
        return;
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * factor(static_cast<TextRole>(role.toInt())));
    font.setBold(widget->property(boldProperty).toBool());
    widget->setFont(font);
}

QString hex(const QColor &color)
{
    return color.name(QColor::HexRgb);
}

QString styleSheet()
{
    // Cards, buttons and segmented choices; everything else is the Fusion style with the
    // palette below.
    return QStringLiteral(R"(
QFrame#SectionCard { background: %1; border: 1px solid %2; border-radius: 12px; }
QFrame#Divider { background: %2; border: none; max-height: 1px; min-height: 1px; }
QLabel#StatusPill { border-radius: 9px; padding: 2px 8px; }
QPushButton { background: %1; border: 1px solid #c8ccd2; border-radius: 6px; padding: 5px 14px; color: %3; }
QPushButton:hover { background: #f4f6f9; }
QPushButton:pressed { background: #e6e9ee; }
QPushButton:disabled { color: #a4a8ae; background: #f6f7f8; border-color: #dcdfe3; }
QPushButton:focus { border: 2px solid %4; padding: 4px 13px; }
QPushButton[prominent="true"] { background: %4; border-color: %4; color: white; font-weight: bold; }
QPushButton[prominent="true"]:hover { background: #2a63d6; }
QPushButton[prominent="true"]:pressed { background: #2357c0; }
QPushButton[prominent="true"]:disabled { background: #a9c1f3; border-color: #a9c1f3; color: #f4f7fd; }
QPushButton[prominent="true"]:focus { border: 2px solid #17409a; padding: 4px 13px; }
QPushButton[tint="green"] { color: %5; border-color: %5; }
QPushButton[tint="accent"] { color: %4; border-color: %4; }
QPushButton[tint="green"]:disabled { color: %5; border-color: #9fd8ad; background: #eef9f1; }
QPushButton[tint="accent"]:disabled { color: #a4a8ae; border-color: #dcdfe3; background: #f6f7f8; }
QPushButton { qproperty-iconSize: %7px %7px; }
QPushButton[segment] { border-radius: 0px; padding: 5px 14px; margin: 0px; }
QPushButton[segment="first"] { border-top-left-radius: 6px; border-bottom-left-radius: 6px; }
QPushButton[segment="last"] { border-top-right-radius: 6px; border-bottom-right-radius: 6px; }
QPushButton[segment="only"] { border-radius: 6px; }
QPushButton[segment]:checked { background: %4; border-color: %4; color: white; }
QPushButton[segment]:checked:disabled { background: #a9c1f3; border-color: #a9c1f3; color: #f4f7fd; }
QLineEdit { background: %1; border: 1px solid #c8ccd2; border-radius: 6px; padding: 5px 8px; }
QLineEdit:focus { border: 2px solid %4; padding: 4px 7px; }
QLineEdit:disabled { background: #f2f3f5; color: #a4a8ae; }
QListWidget#Sidebar { background: transparent; border: none; outline: none; }
QListWidget#Sidebar::item { padding: 6px 8px; border-radius: 6px; color: %3; }
QListWidget#Sidebar::item:selected { background: #dbe6fc; color: %3; }
QListWidget#Sidebar::item:hover:!selected { background: #e8ebf0; }
QTableWidget { background: %1; border: none; gridline-color: transparent; alternate-background-color: #f7f8fa; }
QHeaderView::section { background: %1; border: none; border-bottom: 1px solid %2; padding: 6px 8px; color: %6; }
QProgressBar { background: #e6e9ee; border: none; border-radius: 3px; max-height: 6px; min-height: 6px; }
QProgressBar::chunk { background: %4; border-radius: 3px; }
QScrollArea { background: transparent; border: none; }
QMenu::item:disabled { color: #a4a8ae; }
QSplitter::handle { background: %2; }
)")
        .arg(hex(cardBackground()), hex(separator()), hex(text()), hex(accent()), hex(green()), hex(secondaryText()),
            QString::number(qRound(16 * currentScale / 100.0)));
}

} // namespace

QColor accent()
{
    return QColor(0x2f, 0x6f, 0xed);
}
QColor green()
{
    return QColor(0x1f, 0x9d, 0x4a);
}
QColor orange()
{
    return QColor(0xd9, 0x7a, 0x06);
}
QColor red()
{
    return QColor(0xd7, 0x30, 0x2b);
}
QColor text()
{
    return QColor(0x1d, 0x1f, 0x23);
}
QColor secondaryText()
{
    return QColor(0x62, 0x67, 0x6f);
}
QColor windowBackground()
{
    return QColor(0xf2, 0xf3, 0xf6);
}
QColor cardBackground()
{
    return QColor(0xff, 0xff, 0xff);
}
QColor separator()
{
    return QColor(0xe1, 0xe4, 0xe8);
}

QColor latencyColor(qint64 milliseconds)
{
    if (milliseconds < 100)
        return green();
    if (milliseconds < 250)
        return orange();
    return red();
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

void makeSecondary(QWidget *widget)
{
    setTextColor(widget, secondaryText());
}

void apply(QApplication &application)
{
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QPalette palette;
    palette.setColor(QPalette::Window, windowBackground());
    palette.setColor(QPalette::WindowText, text());
    palette.setColor(QPalette::Base, cardBackground());
    palette.setColor(QPalette::AlternateBase, QColor(0xf7, 0xf8, 0xfa));
    palette.setColor(QPalette::Text, text());
    palette.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x93, 0x9a));
    palette.setColor(QPalette::Button, cardBackground());
    palette.setColor(QPalette::ButtonText, text());
    palette.setColor(QPalette::Highlight, accent());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, cardBackground());
    palette.setColor(QPalette::ToolTipText, text());
    palette.setColor(QPalette::Link, accent());
    palette.setColor(QPalette::Mid, separator());
    for (QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(QPalette::Disabled, role, QColor(0xa4, 0xa8, 0xae));
    application.setPalette(palette);

    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setStyleHint(QFont::SansSerif);
    // Bold texts (titles, prominent buttons) are the regular face emboldened: the bold face
    // would stay resident beside it (about 4.5 MB) for a few words, and the two look alike.
    // Only a weight of bold or more is emboldened, so the style sheet asks for bold, not 600.
    font.setStyleName(QStringLiteral("Regular"));
    font.setPointSizeF(baseFontPoints * currentScale / 100.0);
    application.setFont(font);
    application.setStyleSheet(styleSheet());
}

void releaseLoadedFonts()
{
    // Qt has no public call for this, but a change of its font database drops every loaded
    // font: a font with no characters is registered and at once removed again.
    const int empty = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/empty.ttf"));
    if (empty >= 0)
        QFontDatabase::removeApplicationFont(empty);
    // A font object that outlives the drop loads its next faces outside Qt's cache, where no
    // later drop reaches them: the application's font is made anew, so the next window loads
    // through the cache again and its close gives the faces back too.
    QFont font = QApplication::font();
    const qreal points = font.pointSizeF();
    font.setPointSizeF(points + 1);
    font.setPointSizeF(points);
    // Equal to the one it replaces, so nothing needs telling: no widget is sent a font change.
    QGuiApplication::setFont(font);
}

void setTextRole(QWidget *widget, TextRole role, bool bold)
{
    widget->setProperty(roleProperty, static_cast<int>(role));
    widget->setProperty(boldProperty, bold);
    applyRole(widget);
}

void setScalePercent(int percent)
{
    percent = std::clamp(percent, 90, 140);
    if (percent == currentScale)
        return;
    currentScale = percent;
    QFont font = QApplication::font();
    font.setPointSizeF(baseFontPoints * percent / 100.0);
    QApplication::setFont(font);
    // Button icons grow with the text. Setting the style sheet re-polishes every widget, which
    // resets their fonts, so the text roles come after it.
    qApp->setStyleSheet(styleSheet());
    for (QWidget *widget : QApplication::allWidgets())
        applyRole(widget);
}

int scalePercent()
{
    return currentScale;
}

} // namespace veyra::ui::theme
