#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The splitter layout file of the session page: QByteArrays one after the
// other in a QDataStream (default version, big-endian: a 32-bit length, then
// the bytes; 0xFFFFFFFF for a null array). Normally nine: the primary view's
// six splitter states, then the window's vertical, scheme and horizontal
// splitter states. "splitters.cfg" is read at start-up, "splittersNew.cfg"
// written on save: two files, so a layout saved never replaces the one the
// program starts with.
class SplitterStateFile
{
public:
    struct Layout
    {
        QList<QByteArray> viewStates; // the primary view's, in its getSplitterStates() order
        QByteArray vertical;
        QByteArray scheme;
        QByteArray horizontal;

        // The arrays in file order.
        QList<QByteArray> toList() const;
        // The last three are the window's, the rest the view's; none with
        // fewer than three arrays.
        static std::optional<Layout> fromList(const QList<QByteArray> &states);
    };

    static QString readFileName() { return QStringLiteral("splitters.cfg"); }
    static QString writtenFileName() { return QStringLiteral("splittersNew.cfg"); }

    // Pure: the file's bytes, and back. decode() stops at the first array
    // that cannot be read whole and then gives nothing: a file cut short
    // would otherwise hand every state to the wrong splitter.
    static QByteArray encode(const QList<QByteArray> &states);
    static std::optional<QList<QByteArray>> decode(const QByteArray &bytes);

    // Writes the layout through QSaveFile, so that a failed or interrupted
    // write leaves the old file whole. False (and a trace line) when the file
    // cannot be written.
    static bool save(const QString &path, const Layout &layout);
    // The layout of the file, or nothing when the file is absent, unreadable,
    // cut short or holds fewer than three arrays (a trace line says which).
    static std::optional<Layout> load(const QString &path);
};
