#ifndef STYLESHEET_H
#define STYLESHEET_H

#include <QString>

class QWidget;

// Gives one of the module's windows the style sheet file (when it opens) and
// the window icon that the sheet names. Only that window and its children
// are styled: the application's style sheet and window icon belong to the
// host and stay as they are.
void applyStyleSheet(const QString& path, QWidget* window);

// PATH of the first "qproperty-windowIcon: url(PATH);" line; empty when the
// sheet has none.
QString windowIconPathFromStyleSheet(const QString& styleSheet);

#endif
