#include "MessageBoxes.h"

#include "CMessageBox.h"

int showMessageBox(QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons)
{
    CMessageBox box(icon, title, text, buttons, parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    // Takes the focus once shown, as every module window does.
    return box.exec();
}

int showWarning(const QString& title, const QString& text, QWidget* parent)
{
    return showMessageBox(QMessageBox::Warning, parent, title, text, QMessageBox::Ok);
}
