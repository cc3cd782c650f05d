#include "app/SplitterStateFile.h"

#include "widgets/Trace.h"

#include <QDataStream>
#include <QFile>
#include <QSaveFile>

namespace {

// A layout file is a few hundred bytes; anything far larger is not one.
constexpr qint64 kLargestFile = 1 << 20;

} // namespace

QList<QByteArray> SplitterStateFile::Layout::toList() const
{
    QList<QByteArray> states = viewStates;
    states << vertical << scheme << horizontal;
    return states;
}

std::optional<SplitterStateFile::Layout> SplitterStateFile::Layout::fromList(const QList<QByteArray> &states)
{
    if (states.size() < 3)
        return std::nullopt;
    Layout layout;
    layout.viewStates = states.mid(0, states.size() - 3);
    layout.vertical = states.at(states.size() - 3);
    layout.scheme = states.at(states.size() - 2);
    layout.horizontal = states.at(states.size() - 1);
    return layout;
}

QByteArray SplitterStateFile::encode(const QList<QByteArray> &states)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const QByteArray &state : states)
        out << state;
    return bytes;
}

std::optional<QList<QByteArray>> SplitterStateFile::decode(const QByteArray &bytes)
{
    QDataStream in(bytes);
    QList<QByteArray> states;
    while (!in.atEnd()) {
        QByteArray state;
        in >> state;
        if (in.status() != QDataStream::Ok)
            return std::nullopt;
        states << state;
    }
    return states;
}

bool SplitterStateFile::save(const QString &path, const Layout &layout)
{
    const QByteArray bytes = encode(layout.toList());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        kelvaris::trace(QStringLiteral("No es pot obrir el fitxer per escriure."));
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        kelvaris::trace(QStringLiteral("The splitter layout could not be written."));
        return false;
    }
    return true;
}

std::optional<SplitterStateFile::Layout> SplitterStateFile::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        kelvaris::trace(QStringLiteral("No es pot obrir el fitxer per llegir."));
        return std::nullopt;
    }
    if (file.size() > kLargestFile) {
        kelvaris::trace(QStringLiteral("The splitter layout file is too large; it is not used."));
        return std::nullopt;
    }
    const std::optional<QList<QByteArray>> states = decode(file.readAll());
    if (!states) {
        kelvaris::trace(QStringLiteral("The splitter layout file is cut short; it is not used."));
        return std::nullopt;
    }
    const std::optional<Layout> layout = Layout::fromList(*states);
    if (!layout)
        kelvaris::trace(
            QStringLiteral("The splitter layout file holds fewer than three states; it is not used."));
    return layout;
}
