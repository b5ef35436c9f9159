#ifndef UPDATER_BASEEXCEPTION_H
#define UPDATER_BASEEXCEPTION_H

#include <QByteArray>
#include <QException>
#include <QSharedPointer>
#include <QString>

#include <updater/updater_export.h>

// Exception with a message, an optional inner exception that caused it and a
// stack trace text with one line per level of the chain. All texts are held
// as deep copies, so a copy may outlive the object it was copied from and be
// handed to another thread.
class UPDATER_EXPORT BaseException : public QException
{
public:
    explicit BaseException(const QString& message);
    BaseException(const QString& message, const BaseException& inner);
    BaseException(const BaseException& other);
    BaseException& operator=(const BaseException& other);
    ~BaseException() override;

    const char* what() const noexcept override;
    void raise() const override;
    BaseException* clone() const override;

    // Recomputes the trace of the whole chain and returns it.
    QString getStackTrace();

protected:
    QString getMessage() const;
    QString getWhatMessage() const;
    void setMessage(const QString& message);
    void setStackTrace(const QString& stackTrace);
    void setWhatMessage(const QString& whatMessage);

private:
    QString generateStackTrace() const;

    QString message;
    QString whatMessage;
    // what()'s text: whatMessage in UTF-8.
    QByteArray whatBuffer;
    QString stackTrace;
    QSharedPointer<BaseException> inner;
};

#endif
