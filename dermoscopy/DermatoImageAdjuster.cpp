#include "dermoscopy/DermatoImageAdjuster.h"

#include "dermoscopy/ImageAdjustments.h"

#include <QtConcurrent/QtConcurrentRun>

DermatoImageAdjuster::DermatoImageAdjuster(QObject *parent) : QObject(parent) {}

void DermatoImageAdjuster::setImage(const QImage &full, const QSize &displaySize)
{
    ++m_generation;
    m_running = false;
    m_full = full;
    m_display = full;
    if (!full.isNull() && displaySize.isValid() && !displaySize.isEmpty() &&
        (full.width() > displaySize.width() || full.height() > displaySize.height()))
        m_display = full.scaled(displaySize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void DermatoImageAdjuster::setImages(const QImage &full, const QImage &display)
{
    ++m_generation;
    m_running = false;
    m_full = full;
    m_display = display.isNull() ? full : display;
}

QImage DermatoImageAdjuster::adjustWhileMoving(double brightness, double sharpness)
{
    // A full-resolution result still on its way would replace this step.
    ++m_generation;
    m_running = false;
    QImage image = m_display;
    adjustImage(image, {brightness, sharpness});
    return image;
}

void DermatoImageAdjuster::adjustFull(double brightness, double sharpness)
{
    const int generation = ++m_generation;
    if (m_full.isNull()) {
        m_running = false;
        return;
    }
    m_running = true;
    QtConcurrent::run([image = m_full, brightness, sharpness]() mutable {
        adjustImage(image, {brightness, sharpness});
        // Converted here, off the GUI thread, rather than by QPixmap there.
        image.convertTo(QImage::Format_RGB32);
        return image;
    }).then(this, [this, generation, brightness, sharpness](QImage image) {
        if (generation != m_generation)
            return;
        m_running = false;
        emit fullAdjusted(image, brightness, sharpness);
    });
}
