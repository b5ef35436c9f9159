#include "DllResultBasic.h"

DllResultBasic::DllResultBasic(int code, QString message, QString details)
    : DllResult(code)
    , m_details(details)
    , m_message(message)
{
}

QByteArray DllResultBasic::serialize() const
{
    QByteArray out = QByteArray::number(m_code);
    out.append(m_separator.toUtf8());
    out.append(m_message.toUtf8());
    out.append(m_separator.toUtf8());
    out.append(m_details.toUtf8());
    return out;
}

QString DllResultBasic::details() const
{
    return m_details;
}
