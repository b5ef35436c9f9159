#include "CWindow.h"

#include <QTimer>

#include <updater/OperationCancelledException.h>

#include "SignalEmitter.h"
#include "WindowFocus.h"

CWindow::CWindow(QWidget* parent)
    : QDialog(parent)
    , m_companion(nullptr)
{
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    m_companion.setAttribute(Qt::WA_DontShowOnScreen);
    m_companion.show();
}

CWindow::~CWindow() = default;

int CWindow::exec()
{
    SignalEmitter* emitter = SignalEmitter::instance();
    emit emitter->hide();
    QTimer::singleShot(0, this, &CWindow::setWindowFocus);
    const int result = QDialog::exec();
    if (result == 0)
        throw OperationCancelledException();
    emit emitter->show();
    return result;
}

bool CWindow::validateInput()
{
    return true;
}

void CWindow::clickLeftBottomCorner()
{
    WindowFocus::clickLeftBottomCorner(this);
}

void CWindow::setWindowFocus()
{
    WindowFocus::clickLeftBottomCorner(this);
}
