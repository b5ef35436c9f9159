#ifndef MOUSESIMULATORBASE_H
#define MOUSESIMULATORBASE_H

#include <QPoint>

// Moves the mouse cursor and clicks with the left button at global screen
// coordinates. The platform part, one left click where the cursor is, is
// left to the derived class.
class MouseSimulatorBase
{
public:
    virtual void moveTo(int x, int y);
    // Coordinates are truncated toward zero.
    virtual void moveTo(double x, double y);
    virtual QPoint cursorPosition();
    virtual void clickAt(int x, int y);
    virtual void clickAt(double x, double y);
    // Clicks at the point, then puts the cursor back where it was.
    virtual void clickAtAndRestore(int x, int y);
    virtual void clickAtAndRestore(double x, double y);
    virtual ~MouseSimulatorBase();
    // One left-button press and release at the current cursor position.
    virtual void click() = 0;
};

#endif
