#pragma once

#include <QColor>
#include <QString>

// The theme's colours, one definition for every file that paints with them.
namespace RDTheme {

inline QColor white() { return QColor(255, 255, 255); }
// The accent of buttons, borders and selections.
inline QColor green() { return QColor(53, 141, 0); }
// The same green for style sheets and rich text.
inline QString greenText() { return QStringLiteral("#358d00"); }

} // namespace RDTheme
