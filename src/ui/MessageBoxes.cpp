#include "MessageBoxes.h"

#include <QTimer>

#include "CMessageBox.h"

int showMessageBox(QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons)
{
    CMessageBox box(icon, title, text, buttons, parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    QTimer::singleShot(0, &box, SLOT(setWindowFocus()));
    return box.QDialog::exec();
}

int showWarning(const QString& title, const QString& text, QWidget* parent)
{
    return showMessageBox(QMessageBox::Warning, parent, title, text, QMessageBox::Ok);
}
