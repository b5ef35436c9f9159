#ifndef DLLRESULT_H
#define DLLRESULT_H

#include <QByteArray>
#include <QString>

// A result record as the host receives it: a numeric code and one or two
// texts, joined by a separator ("|" unless changed). Nothing is escaped.
class DllResult
{
public:
    explicit DllResult(int code);
    virtual ~DllResult();

    virtual void setSeparator(QString separator);
    virtual QString separator() const;
    virtual QByteArray serialize() const = 0;

    int code() const;

protected:
    DllResult(const DllResult&) = default;
    DllResult& operator=(const DllResult&) = default;

    int m_code;
    QString m_separator;
};

#endif
