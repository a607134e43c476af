#include "Appearance.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QWidget>

namespace Appearance {

namespace {

struct SymbolSource
{
    const char *themeName;
    QStyle::StandardPixmap fallback;
};

// A theme's icon where the desktop has one, else the style's nearest built-in one.
SymbolSource sourceOf(Symbol symbol)
{
    switch (symbol) {
    case Symbol::magnifyingGlass:
        return {"edit-find", QStyle::SP_FileDialogContentsView};
    case Symbol::clear:
        return {"edit-clear", QStyle::SP_LineEditClearButton};
    case Symbol::reload:
        return {"view-refresh", QStyle::SP_BrowserReload};
    case Symbol::archiveBox:
        return {"package-x-generic", QStyle::SP_DirIcon};
    case Symbol::handRaised:
        break; // drawn by raisedHand()
    }
    Q_UNREACHABLE();
}

// An open hand held up, palm out, on a 16-unit grid: four fingers, a thumb to the left.
QPainterPath raisedHandPath()
{
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    const auto finger = [&hand](qreal left, qreal top) { hand.addRoundedRect(QRectF(left, top, 2, 10 - top), 1, 1); };
    finger(4, 3);
    finger(7, 1.5);
    finger(10, 2.5);
    finger(13, 5);
    hand.addRoundedRect(QRectF(4, 8, 11, 7.5), 3, 3);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-1.1, -5, 2.2, 6), 1.1, 1.1);
    hand.addPath(QTransform().translate(5.5, 12.5).rotate(-40).map(thumb));
    return hand;
}

// No icon theme has a raised hand, and the nearest ones (stop signs, crosses) read as "remove"
// next to a remove button. Drawn at a few sizes so that the small ones stay crisp.
QIcon raisedHand()
{
    const QPainterPath hand = raisedHandPath();
    QIcon icon;
    for (const int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        painter.fillPath(hand, QApplication::palette().color(QPalette::WindowText));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Body text is 13 points where captions are 10.
constexpr qreal captionScale = 10.0 / 13.0;

} // namespace

QIcon symbol(Symbol symbol)
{
    if (symbol == Symbol::handRaised)
        return raisedHand();
    const SymbolSource source = sourceOf(symbol);
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(source.themeName));
    return themed.isNull() ? QApplication::style()->standardIcon(source.fallback) : themed;
}

QPixmap dimmedPixmap(Symbol symbol, int size)
{
    return Appearance::symbol(symbol).pixmap(QSize(size, size), qApp->devicePixelRatio(), QIcon::Disabled);
}

QIcon dimmedIcon(Symbol symbol, int size)
{
    return QIcon(dimmedPixmap(symbol, size));
}

QFont captionFont(const QFont &base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * captionScale);
    return font;
}

void makeSecondary(QWidget &widget)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    widget.setPalette(palette);
}

void makeCaption(QWidget &widget)
{
    widget.setFont(captionFont(widget.font()));
    makeSecondary(widget);
}

} // namespace Appearance
