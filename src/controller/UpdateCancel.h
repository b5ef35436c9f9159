#ifndef UPDATECANCEL_H
#define UPDATECANCEL_H

// The process-wide state of the installing calls: the host's request to stop
// the call that runs (the CancelUpdate export), and the rule that one
// Update or UpdateFromData runs at a time in the process.
//
//     UpdateCancel::Running running;      // first thing in the call
//     if (!running.acquired()) -> 41 at once, the running call untouched
//     UpdateCancel::reset();              // a cancel of an earlier call is forgotten
//     ... UpdateCancel::isRequested() at every step that can stop ...
//
// request() and isRequested() are safe from any thread and from inside the
// host's progress slot: they only touch an atomic flag. Whoever waits in an
// event loop looks at the flag at least every PollIntervalMs.
class UpdateCancel
{
public:
    static constexpr int PollIntervalMs = 50;

    static void request();
    static bool isRequested();
    static void reset();

    // Held for the length of one installing call. Only the first of calls
    // that overlap, on this thread or another, acquires it.
    class Running
    {
    public:
        Running();
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        bool acquired() const { return m_acquired; }

    private:
        bool m_acquired;
    };
};

#endif
