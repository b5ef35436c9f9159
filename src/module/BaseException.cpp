#include <updater/BaseException.h>

namespace {

// A new string built from the characters, never an implicitly shared copy.
QString deepCopy(const QString& text)
{
    return QString(text.constData(), text.size());
}

} // namespace

BaseException::BaseException(const QString& message)
    : message(deepCopy(message))
{
    setWhatMessage(message);
    stackTrace = deepCopy(generateStackTrace());
}

BaseException::BaseException(const QString& message, const BaseException& inner)
    : message(deepCopy(message))
    , inner(inner.clone())
{
    setWhatMessage(message);
}

BaseException::BaseException(const BaseException& other)
    : QException(other)
    , message(other.message)
    , stackTrace(other.stackTrace)
    , inner(other.inner)
{
    setWhatMessage(other.whatMessage);
}

BaseException& BaseException::operator=(const BaseException& other)
{
    if (this != &other) {
        QException::operator=(other);
        message = other.message;
        stackTrace = other.stackTrace;
        setWhatMessage(other.whatMessage);
        inner = other.inner;
    }
    return *this;
}

BaseException::~BaseException() = default;

const char* BaseException::what() const noexcept
{
    return whatBuffer.constData();
}

void BaseException::raise() const
{
    throw *this;
}

BaseException* BaseException::clone() const
{
    return new BaseException(*this);
}

QString BaseException::getStackTrace()
{
    stackTrace = deepCopy(generateStackTrace());
    return stackTrace;
}

QString BaseException::getMessage() const
{
    return message;
}

QString BaseException::getWhatMessage() const
{
    return whatMessage;
}

void BaseException::setMessage(const QString& newMessage)
{
    message = deepCopy(newMessage);
}

void BaseException::setStackTrace(const QString& newStackTrace)
{
    stackTrace = deepCopy(newStackTrace);
}

void BaseException::setWhatMessage(const QString& newWhatMessage)
{
    whatMessage = deepCopy(newWhatMessage);
    whatBuffer = whatMessage.toUtf8();
}

QString BaseException::generateStackTrace() const
{
    if (!inner)
        return whatMessage;
    return QStringLiteral("%1\n\t%2").arg(whatMessage, inner->getStackTrace());
}
