#ifndef UPDATER_OPERATIONCANCELLEDEXCEPTION_H
#define UPDATER_OPERATIONCANCELLEDEXCEPTION_H

#include <QException>

#include <updater/updater_export.h>

// Thrown when the user closes a module dialog without accepting it.
class UPDATER_EXPORT OperationCancelledException : public QException
{
public:
    OperationCancelledException();
    OperationCancelledException(const OperationCancelledException& other);
    OperationCancelledException& operator=(const OperationCancelledException& other);
    ~OperationCancelledException() override;
};

#endif
