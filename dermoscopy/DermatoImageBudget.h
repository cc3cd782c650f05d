#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

// Bounds how many full-size dermatoscopic images live at once. A full image
// of a large dermatoscope (6000 by 4000) takes close to 100 MB once decoded,
// so holders take a slot before they decode one and give it back when they
// drop it. A slot is either being filled (a decode is running) or held.
//
// When every slot is taken, a new one is made by evicting the least recently
// used held slot that is not pinned: its holder is told to drop its image.
// Slots being filled and pinned slots (what a pane shows now) are never
// evicted; a reservation that finds no room fails, and the holder tries again
// when slotFreed() is emitted.
//
// GUI thread only. A holder that is destroyed gives back all its slots.
class DermatoImageBudget : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultCapacity = 3;

    explicit DermatoImageBudget(int capacity = defaultCapacity, QObject *parent = nullptr);

    // The budget every dermatoscopic item shares unless given another.
    static DermatoImageBudget *shared();

    int capacity() const { return m_capacity; }
    // Slots taken now (being filled or held).
    int count() const { return int(m_slots.size()); }
    // The most slots ever taken at once since the last resetPeak().
    int peak() const { return m_peak; }
    void resetPeak() { m_peak = count(); }

    // Takes a slot for (holder, key), being filled. evict is called (once)
    // when the slot is taken back; the holder must then drop its image. True
    // when the slot exists already or was made.
    bool reserve(QObject *holder, int key, bool pinned, std::function<void()> evict);
    // The image of a slot being filled has arrived.
    void markHeld(QObject *holder, int key);
    void release(QObject *holder, int key);
    void releaseAll(QObject *holder);
    void setPinned(QObject *holder, int key, bool pinned);
    // Marks the slot as just used (the last to be evicted).
    void touch(QObject *holder, int key);
    bool holds(const QObject *holder, int key) const;
    bool isPinned(const QObject *holder, int key) const;

signals:
    // Room may have been made (a slot given back, or a held slot that may be
    // evicted now): waiting holders may try again.
    void slotFreed();

private:
    struct Slot
    {
        QPointer<QObject> holder;
        const QObject *address = nullptr;
        int key = 0;
        bool held = false;
        bool pinned = false;
        quint64 lastUse = 0;
        std::function<void()> evict;
    };

    Slot *find(const QObject *holder, int key);
    const Slot *find(const QObject *holder, int key) const;
    void forgetGoneHolders();
    bool evictOne();

    int m_capacity = defaultCapacity;
    int m_peak = 0;
    quint64 m_clock = 0;
    std::vector<Slot> m_slots;
};
