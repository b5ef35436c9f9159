// Left clicks through SendInput.

#include "MouseSimulator.h"

#include <QMessageLogger>

#include <windows.h>

namespace {

void sendLeftButton(DWORD flags)
{
    INPUT input;
    ZeroMemory(&input, sizeof(input));
    input.type = INPUT_MOUSE;
    input.mi.dx = 0;
    input.mi.dy = 0;
    input.mi.mouseData = 0;
    input.mi.dwFlags = flags;
    input.mi.time = 0;
    input.mi.dwExtraInfo = 0;
    if (SendInput(1, &input, sizeof(INPUT)) == 0)
        QMessageLogger().warning("Problem with sending mouse event...");
}

} // namespace

MouseSimulator::~MouseSimulator() = default;

void MouseSimulator::click()
{
    sendLeftButton(MOUSEEVENTF_LEFTDOWN);
    sendLeftButton(MOUSEEVENTF_LEFTUP);
}
