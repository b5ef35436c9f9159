#ifndef WINDOWFOCUS_H
#define WINDOWFOCUS_H

class QWidget;

namespace WindowFocus {

// Clicks two pixels in from the left and two pixels up from the bottom edge
// of the window, so that it takes the keyboard focus, and puts the cursor
// back. The click is sent only once the window is visible and exposed on
// screen (it waits up to half a second for that), so that it never lands in
// a window underneath.
void clickLeftBottomCorner(QWidget* window);

} // namespace WindowFocus

#endif
