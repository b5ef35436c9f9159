#include "CMessageBox.h"

#include <QTimer>

#include "WindowFocus.h"

CMessageBox::CMessageBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                         QMessageBox::StandardButtons buttons, QWidget* parent, Qt::WindowFlags flags)
    : QMessageBox(icon, title, text, buttons, parent, flags)
    , m_companion(nullptr)
{
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    m_companion.setAttribute(Qt::WA_DontShowOnScreen);
    m_companion.show();
}

CMessageBox::~CMessageBox() = default;

int CMessageBox::exec()
{
    QTimer::singleShot(0, this, &CMessageBox::setWindowFocus);
    return QDialog::exec();
}

void CMessageBox::clickLeftBottomCorner()
{
    WindowFocus::clickLeftBottomCorner(this);
}

void CMessageBox::setWindowFocus()
{
    WindowFocus::clickLeftBottomCorner(this);
}
