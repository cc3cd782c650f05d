#pragma once

#include <Qt>

// The item-model roles of the session model, and the numbers that the
// `updated(int role)` signals of sessions, lesions and dermatoscopic items
// carry: a model that receives updated(role) emits dataChanged for that role.
//
// The models reuse numbers from Qt::UserRole + 1 on, so the same number has a
// meaning per model; the names say which.
namespace ModelRole {
enum : int
{
    // Every model: the row's icon.
    Icon = Qt::DecorationRole, // 1
                               // Sessions model: true when the session is not the principal one; a
                               // session's updated(Enabled) follows setEnabled.
    Enabled = 32,

    // Lesions model.
    LesionName = Qt::UserRole + 1,     // 257: the sort key; updated(257) after a renumbering
    LesionPriority = Qt::UserRole + 2, // 258
    LesionLabel = Qt::UserRole + 3,    // 259
    LesionSize = Qt::UserRole + 4,     // 260
    LesionItem = Qt::UserRole + 5,     // 261
    LesionPosition = Qt::UserRole + 6, // 262
                                       // What changed since the last visit (LesionChangeSummary::Status as
                                       // int); invalid while the model has no summary.
    LesionChange = Qt::UserRole + 7, // 263

    // Sessions model.
    SessionName = Qt::UserRole + 1, // 257
    SessionItem = Qt::UserRole + 2, // 258

    // Dermatoscopic item model.
    DermatoscopicName = Qt::UserRole + 1, // 257
    DermatoscopicDate = Qt::UserRole + 2, // 258
    DermatoscopicItem = Qt::UserRole + 3, // 259
};
} // namespace ModelRole
