#include "DllResultSingle.h"

DllResultSingle::DllResultSingle(int code, QString value)
    : DllResult(code)
    , m_value(value)
{
}

QByteArray DllResultSingle::serialize() const
{
    QByteArray out = QByteArray::number(m_code);
    out.append(m_separator.toUtf8());
    out.append(m_value.toUtf8());
    return out;
}
