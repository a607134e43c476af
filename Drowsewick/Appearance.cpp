#include "Appearance.h"

#include <QApplication>
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
        return {"process-stop", QStyle::SP_BrowserStop};
    }
    Q_UNREACHABLE();
}

// Body text is 13 points where captions are 10.
constexpr qreal captionScale = 10.0 / 13.0;

} // namespace

QIcon symbol(Symbol symbol)
{
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
