#include "GuiThread.h"

#include <QCoreApplication>
#include <QThread>

bool isGuiThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}
