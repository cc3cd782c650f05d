#pragma once

#include "demo-server/SampleData.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

// Paints the sample pictures. Everything is a pure function of its arguments
// (seeds included), so a picture made again is the same picture, and the
// functions may run on any thread.
class SampleImages
{
public:
    // A clinical image of a session at the given size; the device's pixel grid
    // (5472 x 3648, or 1600 x 1200 for external images) is scaled to it.
    static QImage clinical(const SampleData::Session &session, const SampleData::ClinicalImage &image,
                           const QSize &size);
    static QImage dermatoscopic(const SampleData::Dermatoscopic &item, const QSize &size);
    // What the simulated phone sends: a dermatoscopic ("D") or a clinical ("C")
    // close-up, marked as coming from the phone.
    static QImage phoneCapture(const QString &name, const QString &type, quint32 seed, const QColor &skin,
                               const QSize &size);

    static QByteArray jpeg(const QImage &image, int quality);
};
