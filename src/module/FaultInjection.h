#ifndef FAULTINJECTION_H
#define FAULTINJECTION_H

// Fault injection for the tests: named points in the module where a test
// build of the library can end the process, throw, or trace what it passes,
// and limits that a test build can shorten. Only the test build of the
// library (CMake target updater-faults, compiled with UPDATER_FAULT_INJECTION)
// contains any of it; in the library that ships the macros compile to nothing
// and to the shipped value.
//
// A test build reads, once per process:
//   UPDATER_FAULT=<point>:<n>[:<action>]
//       at the n-th time (from 1) the point is passed, do the action:
//       kill (default: SIGKILL to the process itself), term (SIGTERM),
//       stop (SIGSTOP: the process stands still where it is, for a test to
//       look at the disk as it is at that moment),
//       throw (std::runtime_error), bad-alloc (std::bad_alloc), throw-int (an
//       exception that is no std::exception).
//   UPDATER_FAULT_TRACE=<file>
//       append "<point> <n>" for every point passed.
//   UPDATER_LIMIT_<NAME>=<value>
//       the value of the limit NAME (upper case), instead of the shipped one.

#ifdef UPDATER_FAULT_INJECTION

#include <QtGlobal>

class FaultInjection
{
public:
    static void point(const char* name);
    static qint64 limit(const char* name, qint64 shippedValue);
};

#define UPDATER_FAULT_POINT(name) FaultInjection::point(name)
#define UPDATER_LIMIT(name, shippedValue) FaultInjection::limit(name, shippedValue)

#else

#define UPDATER_FAULT_POINT(name) ((void)0)
#define UPDATER_LIMIT(name, shippedValue) (shippedValue)

#endif

#endif
