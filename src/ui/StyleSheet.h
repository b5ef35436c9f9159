#ifndef STYLESHEET_H
#define STYLESHEET_H

#include <QString>

// Installs the style sheet file as the application's style sheet (when it
// opens), then the window icon that the application's style sheet names.
void applyStyleSheet(const QString& path);

// Makes the icon named by "qproperty-windowIcon: url(PATH);" in the
// application's style sheet the application's window icon.
void applyWindowIconFromStyleSheet();

// PATH of the first "qproperty-windowIcon: url(PATH);" line; empty when the
// sheet has none.
QString windowIconPathFromStyleSheet(const QString& styleSheet);

#endif
