#ifndef DLLRESULTBASIC_H
#define DLLRESULTBASIC_H

#include "DllResult.h"

// Code, short message and long details: "code|message|details".
class DllResultBasic : public DllResult
{
public:
    DllResultBasic(int code, QString message, QString details);
    DllResultBasic(const DllResultBasic&) = default;
    DllResultBasic& operator=(const DllResultBasic&) = default;

    QByteArray serialize() const override;
    QString details() const;

private:
    QString m_details;
    QString m_message;
};

#endif
