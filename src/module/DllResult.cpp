#include "DllResult.h"

DllResult::DllResult(int code)
    : m_code(code)
    , m_separator(QStringLiteral("|"))
{
}

DllResult::~DllResult() = default;

void DllResult::setSeparator(QString separator)
{
    m_separator = separator;
}

QString DllResult::separator() const
{
    return m_separator;
}

int DllResult::code() const
{
    return m_code;
}
