#pragma once

// What the server holds after a drill: every stored version of the three
// session documents read back as the program reads them, and each edit
// looked for in them.

#include "DrillEdits.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <functional>
#include <map>
#include <vector>

struct DrillFigures
{
    int made = 0;       // edits applied in the viewer
    int stored = 0;     // in the last stored version of their session (pictures stored too)
    int missing = 0;    // made, not stored
    int duplicated = 0; // twice within one stored version
    int foreign = 0;    // in a version of another session
    int outOfOrder = 0; // in a version, lacking in a later one of the same session
    int versions = 0;   // versions read
    int notWhole = 0;   // versions that are no complete session document
    QSet<int> present;  // edits in the last versions
};

// versionsOf: per session, the versions stored during the drill, oldest
// first. object: the bytes of a stored object (empty when none).
DrillFigures checkStored(const std::vector<DrillEdit> &edits,
                         const std::map<int, QList<QByteArray>> &versionsOf,
                         const std::function<QByteArray(const QString &)> &object);
