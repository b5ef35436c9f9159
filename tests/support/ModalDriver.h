#ifndef MODALDRIVER_H
#define MODALDRIVER_H

#include <functional>

#include <QString>

class QWidget;

// Drives modal dialogs from inside their event loops, as a user would.
namespace ModalDriver {

// Runs `action` once a modal widget other than `except` is active and
// visible (checked every 10 ms, for at most `timeoutMs`). Returns at once.
void onNextModal(std::function<void(QWidget*)> action, QWidget* except = nullptr, int timeoutMs = 10000);

// A left click on the child button with this object name (or, for the
// standard buttons of a button box or message box, this caption role:
// "ok", "cancel"). Returns false when no such button exists.
bool clickButton(QWidget* dialog, const QString& name);

// Types the text key by key into the widget, any Unicode letters included.
void typeText(QWidget* widget, const QString& text);

} // namespace ModalDriver

#endif
