#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

namespace veyra::ui {

// A symbol followed by a text, the icon sized to the text; both can take a colour.
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    explicit SymbolLabel(const QString &symbol = {}, const QString &text = {}, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol);
    void setText(const QString &text);
    // Colours both the symbol and the text; an invalid colour means the palette's.
    void setColor(const QColor &color);
    void setSymbolColor(const QColor &color);
    void setTextColor(const QColor &color);
    // The symbol's height relative to the text's line height (1 by default).
    void setSymbolScale(double scale);

    QString symbol() const { return m_symbol; }
    QString text() const;
    QLabel *textLabel() const { return m_text; }
    QLabel *symbolLabel() const { return m_icon; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void renderSymbol();

    QLabel *m_icon;
    QLabel *m_text;
    QString m_symbol;
    QColor m_symbolColor;
    double m_symbolScale = 1.0;
};

} // namespace veyra::ui
