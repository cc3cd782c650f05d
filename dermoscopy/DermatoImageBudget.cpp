#include "dermoscopy/DermatoImageBudget.h"

#include <QCoreApplication>

#include <algorithm>

DermatoImageBudget::DermatoImageBudget(int capacity, QObject *parent)
    : QObject(parent), m_capacity(std::max(1, capacity))
{
}

DermatoImageBudget *DermatoImageBudget::shared()
{
    // Owned by the application, so that it goes before Qt does.
    static QPointer<DermatoImageBudget> budget;
    if (!budget)
        budget = new DermatoImageBudget(defaultCapacity, QCoreApplication::instance());
    return budget;
}

DermatoImageBudget::Slot *DermatoImageBudget::find(const QObject *holder, int key)
{
    for (Slot &slot : m_slots) {
        if (slot.holder && slot.address == holder && slot.key == key)
            return &slot;
    }
    return nullptr;
}

const DermatoImageBudget::Slot *DermatoImageBudget::find(const QObject *holder, int key) const
{
    return const_cast<DermatoImageBudget *>(this)->find(holder, key);
}

void DermatoImageBudget::forgetGoneHolders()
{
    const auto gone = std::remove_if(m_slots.begin(), m_slots.end(), [](const Slot &s) { return !s.holder; });
    if (gone == m_slots.end())
        return;
    m_slots.erase(gone, m_slots.end());
    emit slotFreed();
}

bool DermatoImageBudget::evictOne()
{
    Slot *oldest = nullptr;
    for (Slot &slot : m_slots) {
        if (slot.held && !slot.pinned && (!oldest || slot.lastUse < oldest->lastUse))
            oldest = &slot;
    }
    if (!oldest)
        return false;
    std::function<void()> evict = std::move(oldest->evict);
    m_slots.erase(m_slots.begin() + (oldest - m_slots.data()));
    // The holder drops its image now; it may call back into the budget.
    if (evict)
        evict();
    return true;
}

bool DermatoImageBudget::reserve(QObject *holder, int key, bool pinned, std::function<void()> evict)
{
    if (!holder)
        return false;
    forgetGoneHolders();
    if (Slot *slot = find(holder, key)) {
        slot->pinned = slot->pinned || pinned;
        slot->lastUse = ++m_clock;
        return true;
    }
    while (count() >= m_capacity) {
        if (!evictOne())
            return false;
    }
    Slot slot;
    slot.holder = holder;
    slot.address = holder;
    slot.key = key;
    slot.pinned = pinned;
    slot.lastUse = ++m_clock;
    slot.evict = std::move(evict);
    m_slots.push_back(std::move(slot));
    m_peak = std::max(m_peak, count());
    // A holder going away gives its slots back with it.
    connect(holder, &QObject::destroyed, this, &DermatoImageBudget::forgetGoneHolders, Qt::UniqueConnection);
    return true;
}

void DermatoImageBudget::markHeld(QObject *holder, int key)
{
    if (Slot *slot = find(holder, key)) {
        slot->held = true;
        slot->lastUse = ++m_clock;
        // An unpinned held slot can make room where a filling one could not.
        if (!slot->pinned)
            emit slotFreed();
    }
}

void DermatoImageBudget::release(QObject *holder, int key)
{
    const auto it = std::find_if(m_slots.begin(), m_slots.end(), [&](const Slot &s) {
        return s.holder && s.address == holder && s.key == key;
    });
    if (it == m_slots.end())
        return;
    m_slots.erase(it);
    emit slotFreed();
}

void DermatoImageBudget::releaseAll(QObject *holder)
{
    const auto gone = std::remove_if(m_slots.begin(), m_slots.end(),
                                     [&](const Slot &s) { return !s.holder || s.address == holder; });
    if (gone == m_slots.end())
        return;
    m_slots.erase(gone, m_slots.end());
    emit slotFreed();
}

void DermatoImageBudget::setPinned(QObject *holder, int key, bool pinned)
{
    if (Slot *slot = find(holder, key)) {
        const bool unpinned = slot->pinned && !pinned;
        slot->pinned = pinned;
        slot->lastUse = ++m_clock;
        if (unpinned && slot->held)
            emit slotFreed();
    }
}

void DermatoImageBudget::touch(QObject *holder, int key)
{
    if (Slot *slot = find(holder, key))
        slot->lastUse = ++m_clock;
}

bool DermatoImageBudget::holds(const QObject *holder, int key) const
{
    return find(holder, key) != nullptr;
}

bool DermatoImageBudget::isPinned(const QObject *holder, int key) const
{
    const Slot *slot = find(holder, key);
    return slot && slot->pinned;
}
