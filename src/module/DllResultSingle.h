#ifndef DLLRESULTSINGLE_H
#define DLLRESULTSINGLE_H

#include "DllResult.h"

// Code and one text: "code|value".
class DllResultSingle : public DllResult
{
public:
    DllResultSingle(int code, QString value);
    DllResultSingle(const DllResultSingle&) = default;
    DllResultSingle& operator=(const DllResultSingle&) = default;

    QByteArray serialize() const override;

private:
    QString m_value;
};

#endif
