#ifndef OWNXVFB_H
#define OWNXVFB_H

#include <QByteArray>

// The X server of the tests that send real input: the one scripts/test.sh
// names in UPDATER_TEST_DISPLAY, else an Xvfb of the test's own on the
// first free display, which dies with the test.
namespace OwnXvfb {

// The display to use (":N"), empty when there is none.
QByteArray display();
// Stops the test's own server, if it started one.
void stop();

} // namespace OwnXvfb

#endif
