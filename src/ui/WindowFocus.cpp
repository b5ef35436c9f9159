#include "WindowFocus.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "MouseSimulator.h"

namespace {

const int kRetryIntervalMs = 10;
const int kMaxAttempts = 50;

void clickWhenExposed(QWidget* window, int attempt)
{
    if (!window || !window->isVisible())
        return;
    const QWindow* handle = window->windowHandle();
    if (handle && !handle->isExposed()) {
        if (attempt >= kMaxAttempts)
            return;
        QPointer<QWidget> guarded(window);
        QTimer::singleShot(kRetryIntervalMs, window, [guarded, attempt]() {
            clickWhenExposed(guarded.data(), attempt + 1);
        });
        return;
    }
    const int height = window->geometry().bottom() - window->geometry().top() + 1;
    const QPoint global = window->mapToGlobal(QPoint(2, height - 2));
    MouseSimulator simulator;
    simulator.clickAtAndRestore(global.x(), global.y());
}

} // namespace

void WindowFocus::clickLeftBottomCorner(QWidget* window)
{
    clickWhenExposed(window, 0);
}
