#ifndef MOUSESIMULATOR_H
#define MOUSESIMULATOR_H

#include "MouseSimulatorBase.h"

// Sends real left clicks into the system's input stream (SendInput on
// Windows, the X Test extension on X11). Cheap to create: make one on the
// stack for each use.
class MouseSimulator : public MouseSimulatorBase
{
public:
    ~MouseSimulator() override;
    // Press, then release, each sent on its own. A send that fails writes
    // "Problem with sending mouse event..." as a Qt warning and the other
    // one is still sent.
    void click() override;
};

#endif
