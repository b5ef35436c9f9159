#include "FaultInjection.h"

#ifdef UPDATER_FAULT_INJECTION

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

namespace {

struct Settings {
    QByteArray point;
    int hit = 0;
    QByteArray action;
    QByteArray traceFile;
};

const Settings& settings()
{
    static const Settings loaded = [] {
        Settings s;
        const QList<QByteArray> parts = qgetenv("UPDATER_FAULT").split(':');
        if (parts.size() >= 2) {
            s.point = parts.at(0);
            s.hit = parts.at(1).toInt();
            s.action = parts.size() >= 3 ? parts.at(2) : QByteArray("kill");
        }
        s.traceFile = qgetenv("UPDATER_FAULT_TRACE");
        return s;
    }();
    return loaded;
}

QMutex countsMutex;
QHash<QByteArray, int> counts;

void act(const QByteArray& action, const QByteArray& where)
{
    if (action == "term") {
        std::raise(SIGTERM);
        return;
    }
#ifdef SIGSTOP
    if (action == "stop") {
        std::raise(SIGSTOP);
        return;
    }
#endif
    if (action == "throw")
        throw std::runtime_error("injected fault at " + where.toStdString());
    if (action == "bad-alloc")
        throw std::bad_alloc();
    if (action == "throw-int")
        throw 42;
    // Ends the process at once, as a kill from outside would. Windows has no
    // SIGKILL: there the process exits without any clean-up instead.
#ifdef SIGKILL
    std::raise(SIGKILL);
#endif
    std::_Exit(137);
}

} // namespace

void FaultInjection::point(const char* name)
{
    const Settings& s = settings();
    if (s.point.isEmpty() && s.traceFile.isEmpty())
        return;
    const QByteArray key(name);
    int hit = 0;
    {
        QMutexLocker locker(&countsMutex);
        hit = ++counts[key];
    }
    if (!s.traceFile.isEmpty()) {
        if (FILE* trace = std::fopen(s.traceFile.constData(), "a")) {
            std::fprintf(trace, "%s %d\n", name, hit);
            std::fclose(trace);
        }
    }
    if (key == s.point && hit == s.hit)
        act(s.action, key + ':' + QByteArray::number(hit));
}

qint64 FaultInjection::limit(const char* name, qint64 shippedValue)
{
    const QByteArray variable = "UPDATER_LIMIT_" + QByteArray(name).toUpper();
    bool ok = false;
    const qint64 value = qgetenv(variable.constData()).toLongLong(&ok);
    return ok ? value : shippedValue;
}

#endif
