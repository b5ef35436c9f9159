// Left clicks through the X Test extension, on the X display the
// application runs on.

#include "MouseSimulator.h"

#include <QGuiApplication>
#include <QMessageLogger>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

void warnSendFailed()
{
    QMessageLogger().warning("Problem with sending mouse event...");
}

// The display only when the application itself runs on X11: on the
// offscreen or Wayland platforms a click on some X server would land in
// another program's windows.
Display* openApplicationDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return display;
}

bool sendLeftButton(Display* display, bool press)
{
    if (!display)
        return false;
    const int sent = XTestFakeButtonEvent(display, Button1, press ? True : False, CurrentTime);
    // Wait until the server has taken the event, so that a cursor move that
    // follows cannot overtake it.
    XSync(display, False);
    return sent != 0;
}

} // namespace

MouseSimulator::~MouseSimulator() = default;

void MouseSimulator::click()
{
    Display* display = openApplicationDisplay();
    if (!sendLeftButton(display, true))
        warnSendFailed();
    if (!sendLeftButton(display, false))
        warnSendFailed();
    if (display)
        XCloseDisplay(display);
}
