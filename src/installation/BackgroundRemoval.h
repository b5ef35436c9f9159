#ifndef BACKGROUNDREMOVAL_H
#define BACKGROUNDREMOVAL_H

#include <QStringList>

#include <thread>

// Deletes a list of files (as removeFiles does) on a thread of its own while
// the caller goes on; wait(), or the object's end, waits until it is done.
// Without a thread to be had, the files are deleted in wait().
class BackgroundRemoval
{
public:
    explicit BackgroundRemoval(const QStringList& paths);
    ~BackgroundRemoval();
    BackgroundRemoval(const BackgroundRemoval&) = delete;
    BackgroundRemoval& operator=(const BackgroundRemoval&) = delete;

    void wait();

private:
    QStringList m_paths;
    std::thread m_thread;
    bool m_started = false;
    bool m_done = false;
};

#endif
