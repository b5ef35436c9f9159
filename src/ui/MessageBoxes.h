#ifndef MESSAGEBOXES_H
#define MESSAGEBOXES_H

#include <QMessageBox>
#include <QString>

class QWidget;

// Shows a modal CMessageBox; returns the standard button that ended it.
int showMessageBox(QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons);

// A warning box with a single OK button.
int showWarning(const QString& title, const QString& text, QWidget* parent);

#endif
