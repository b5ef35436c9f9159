#include "MouseSimulatorBase.h"

#include <QCursor>

void MouseSimulatorBase::moveTo(int x, int y)
{
    moveTo(static_cast<double>(x), static_cast<double>(y));
}

void MouseSimulatorBase::moveTo(double x, double y)
{
    QCursor::setPos(static_cast<int>(x), static_cast<int>(y));
}

QPoint MouseSimulatorBase::cursorPosition()
{
    return QCursor::pos();
}

void MouseSimulatorBase::clickAt(int x, int y)
{
    clickAt(static_cast<double>(x), static_cast<double>(y));
}

void MouseSimulatorBase::clickAt(double x, double y)
{
    moveTo(x, y);
    click();
}

void MouseSimulatorBase::clickAtAndRestore(int x, int y)
{
    clickAtAndRestore(static_cast<double>(x), static_cast<double>(y));
}

void MouseSimulatorBase::clickAtAndRestore(double x, double y)
{
    const QPoint saved = cursorPosition();
    moveTo(x, y);
    click();
    moveTo(saved.x(), saved.y());
}

MouseSimulatorBase::~MouseSimulatorBase() = default;
