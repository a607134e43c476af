#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>

class QWidget;

// The few looks the windows share: the small caption font, dimmed text, and the symbols they show.
namespace Appearance {

enum class Symbol { magnifyingGlass, clear, reload, archiveBox, handRaised };

QIcon symbol(Symbol symbol);
// The symbol greyed out, for icons that should not draw the eye.
QPixmap dimmedPixmap(Symbol symbol, int size);
QIcon dimmedIcon(Symbol symbol, int size);

QFont captionFont(const QFont &base);
void makeSecondary(QWidget &widget);
// Caption size and dimmed.
void makeCaption(QWidget &widget);

} // namespace Appearance
