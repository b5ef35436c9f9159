#ifndef OWNXVFB_H
#define OWNXVFB_H

#include <QByteArray>

#include <functional>

// The X server of the tests that send real input: the one scripts/test.sh
// names in UPDATER_TEST_DISPLAY, else an Xvfb of the test's own on the
// first free display, which dies with the test.
namespace OwnXvfb {

// The display to use (":N"), empty when there is none.
QByteArray display();
// Stops the test's own server, if it started one.
void stop();

// The main of a test on the X server: a QApplication on the display (xcb),
// body's status (1 without a server), and the server stopped at the end.
int run(int argc, char** argv, const std::function<int(int, char**)>& body);

} // namespace OwnXvfb

#endif
