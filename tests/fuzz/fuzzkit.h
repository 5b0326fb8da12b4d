#pragma once
// What every fuzz target shares: the input as bytes, and a property check that stops the
// run (libFuzzer keeps the input that broke it).
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fuzzkit {

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A file's name under /dev/shm (memory) for readers that take a path.
inline QString scratch(const char* name)
{
    return QStringLiteral("/dev/shm/vamplet-fuzz-%1-%2").arg(QString::fromLatin1(name)).arg(qint64(::getpid()));
}

} // namespace fuzzkit

#define FUZZ_CHECK(condition)                                                \
    do {                                                                     \
        if (!(condition)) {                                                  \
            std::fprintf(stderr, "property broken: %s\n", #condition);       \
            std::abort();                                                    \
        }                                                                    \
    } while (0)
