#ifndef TULV_CORE_SOUNDDEBUGGABLECLASS_H
#define TULV_CORE_SOUNDDEBUGGABLECLASS_H

#include <QString>

#include <ostream>

// Library-wide diagnostic state shared by every algorithm, reader and writer:
// debug and verbose switches, the stream that dumps go to, and the last error.
// It is deliberately unguarded: hosts configure diagnostics from one thread.
class SoundDebuggableClass {
public:
    SoundDebuggableClass() = default;
    SoundDebuggableClass(const SoundDebuggableClass&) = default;
    SoundDebuggableClass& operator=(const SoundDebuggableClass&) { return *this; }
    SoundDebuggableClass& operator=(SoundDebuggableClass&&) { return *this; }

    static bool isDebug() { return sDebug; }
    static void setDebug(bool on) { sDebug = on; }
    static bool isVerbose() { return sVerbose; }
    static void setVerbose(bool on) { sVerbose = on; }

    // Where debug dumps and out-of-range reports go; standard output by default.
    static std::ostream& getOStream() { return *sOStream; }
    // The caller keeps the stream alive for as long as it is set.
    static void setOStream(std::ostream* stream) { sOStream = stream; }

    static QString getError() { return mErrorStr; }
    // Records `where : message` as the last error and logs it as a Qt warning.
    // An empty message changes nothing, so a caller may pass on whatever a
    // dependency reported without first checking it.
    static void setError(QString message, const char* where);

protected:
    static bool sDebug;
    static bool sVerbose;
    static std::ostream* sOStream;
    static QString mErrorStr;
};

#endif
