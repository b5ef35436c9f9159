#ifndef BACKGROUNDWORK_H
#define BACKGROUNDWORK_H

#include <QVector>

#include <functional>

class QThread;

// Jobs run on threads of their own while the calling thread goes on: the
// installation's long steps (unpacking, deleting many files, flushing) share
// out their work this way. While wait() waits, the calling thread keeps
// running its event loop when asked to, so that a host's window repaints and
// its buttons work meanwhile.
//
//     BackgroundWork work;
//     work.start([&] { ... });      // on a thread of its own (or, should no
//     work.start([&] { ... });      //   thread be had, here and now)
//     work.wait([&] { report(); }); // every job done; the tick meanwhile
class BackgroundWork
{
public:
    using Tick = std::function<void()>;
    // How often wait() calls its tick.
    static const int TickMs = 50;

    BackgroundWork() = default;
    // Waits for the jobs still running.
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    void start(const std::function<void()>& job);
    // Waits until every job has ended. With a tick, and an application
    // object to run events for, the calling thread's events are processed
    // meanwhile and the tick is called every TickMs; otherwise it only waits.
    void wait(const Tick& tick = Tick());

private:
    bool allFinished() const;

    QVector<QThread*> m_threads;
};

#endif
