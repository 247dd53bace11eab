#include "tulv/core/SoundDebuggableClass.h"

#include <QtGlobal>

#include <iostream>

bool SoundDebuggableClass::sDebug = false;
bool SoundDebuggableClass::sVerbose = false;
std::ostream* SoundDebuggableClass::sOStream = &std::cout;
QString SoundDebuggableClass::mErrorStr;

void SoundDebuggableClass::setError(QString message, const char* where)
{
    if (message.isEmpty())
        return;
    mErrorStr = where ? QString::fromUtf8(where) + QStringLiteral(" : ") : QString();
    // A system call that failed without a reason hands us an empty C string.
    if (message.at(0) == QChar(0))
        message = QStringLiteral("Unknown system error.");
    mErrorStr += message;
    qWarning("%s", qUtf8Printable(mErrorStr));
}
