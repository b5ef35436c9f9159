#include "BackgroundWork.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace {

// A thread that runs one job (QThread::create would do, but brings
// std::future's type information into the library's exported symbols).
class JobThread : public QThread
{
public:
    explicit JobThread(const std::function<void()>& job)
        : m_job(job)
    {
    }

protected:
    void run() override { m_job(); }

private:
    std::function<void()> m_job;
};

} // namespace

BackgroundWork::~BackgroundWork()
{
    wait();
}

void BackgroundWork::start(const std::function<void()>& job)
{
    QThread* thread = new JobThread(job);
    thread->start();
    // A thread that could not be made neither runs nor has run: the job is
    // done here instead.
    if (!thread->isRunning() && !thread->isFinished()) {
        delete thread;
        job();
        return;
    }
    m_threads.append(thread);
}

bool BackgroundWork::allFinished() const
{
    for (const QThread* thread : m_threads) {
        if (!thread->isFinished())
            return false;
    }
    return true;
}

void BackgroundWork::wait(const Tick& tick)
{
    if (tick && QCoreApplication::instance() && !m_threads.isEmpty()) {
        QEventLoop loop;
        for (QThread* thread : qAsConst(m_threads)) {
            QObject::connect(thread, &QThread::finished, &loop, [this, &loop] {
                if (allFinished())
                    loop.quit();
            });
        }
        QTimer timer;
        timer.setInterval(TickMs);
        QObject::connect(&timer, &QTimer::timeout, &loop, tick);
        timer.start();
        if (!allFinished())
            loop.exec();
    }
    // Also after a loop that the application's exit() ended early.
    for (QThread* thread : qAsConst(m_threads)) {
        thread->wait();
        delete thread;
    }
    m_threads.clear();
}
