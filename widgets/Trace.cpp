#include "widgets/Trace.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace kelvaris {
namespace {

QMutex &sinkMutex()
{
    static QMutex mutex;
    return mutex;
}

TraceSink &currentSink()
{
    static TraceSink sink;
    return sink;
}

} // namespace

void trace(const QString &line)
{
    QMutexLocker lock(&sinkMutex());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

TraceSink setTraceSink(TraceSink sink)
{
    QMutexLocker lock(&sinkMutex());
    TraceSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

} // namespace kelvaris
