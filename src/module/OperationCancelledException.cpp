#include <updater/OperationCancelledException.h>

OperationCancelledException::OperationCancelledException() = default;

OperationCancelledException::OperationCancelledException(const OperationCancelledException& other)
    : QException(other)
{
}

OperationCancelledException& OperationCancelledException::operator=(const OperationCancelledException& other)
{
    QException::operator=(other);
    return *this;
}

OperationCancelledException::~OperationCancelledException() = default;
