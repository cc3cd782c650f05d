// The dermatoscopic viewer's images: what each version shows (placeholder,
// preview or full image, adjusted or not), adjustments, zoom and the
// superposition.

#include "app/kelvarisVisualizer.h"
#include "dermoscopy/DermatoImageAdjuster.h"
#include "dermoscopy/DermatoImageBudget.h"
#include "dermoscopy/ImageAdjustments.h"
#include "dermoscopy/QtDermatoscopicDialog.h"
#include "dermoscopy/QtImageComparisonWidget.h"
#include "statistics/QtSliderAction.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"

#include <QFile>
#include <QGraphicsPixmapItem>
#include <QSlider>

#include <cmath>

namespace {

// A preview drawn scaled up to the full image's size, so that the item keeps
// its final geometry whatever it shows.
void showScaled(QGraphicsPixmapItem *item, const QImage &image, const QSize &size)
{
    item->setPixmap(QPixmap::fromImage(image));
    item->setTransform(
        QTransform::fromScale(double(size.width()) / image.width(), double(size.height()) / image.height()));
}

void showAsIs(QGraphicsPixmapItem *item, const QPixmap &pixmap)
{
    item->setTransform(QTransform());
    item->setPixmap(pixmap);
}

const QPixmap &placeholderPixmap()
{
    static const QPixmap placeholder = DermatoscopicItem::downloadPlaceholder();
    return placeholder;
}

} // namespace

void QtDermatoscopicDialog::refreshVersion(ItemView &view, int version)
{
    if (version < 0 || version >= int(view.versions.size()))
        return;
    VersionView &v = view.versions[size_t(version)];
    const QSharedPointer<DermatoscopicItem> &item = view.item;
    QGraphicsPixmapItem *pixmapItem = v.pixmapItem;
    if (!item->getImageSize(version).isValid()) {
        // Not downloaded, or not a readable JPEG: the placeholder, at its size.
        if (v.display != Display::Placeholder) {
            showAsIs(pixmapItem, placeholderPixmap());
            v.display = Display::Placeholder;
        }
        return;
    }
    if (v.adjusted()) {
        if (v.fullAdjusted)
            return;
        const QImage preview = item->getPreview(version);
        if (preview.isNull()) {
            pixmapItem->setPixmap(QPixmap());
            v.display = Display::Nothing;
            return;
        }
        if (v.adjustedPreview.isNull()) {
            QImage adjusted = preview;
            adjustImage(adjusted, {v.brightness, v.sharpness});
            v.adjustedPreview = adjusted;
        }
        showScaled(pixmapItem, v.adjustedPreview, v.rect.size());
        v.display = Display::Preview;
        return;
    }
    const QImage full = item->loadedImage(version);
    if (!full.isNull()) {
        // The pixmap shares the decoded image's pixels: held once.
        showAsIs(pixmapItem, QPixmap::fromImage(full));
        v.display = Display::Full;
        return;
    }
    const QImage preview = item->getPreview(version);
    if (!preview.isNull()) {
        showScaled(pixmapItem, preview, v.rect.size());
        v.display = Display::Preview;
        return;
    }
    // A full image taken back and no preview yet: drop the pixels now.
    pixmapItem->setPixmap(QPixmap());
    v.display = Display::Nothing;
}

void QtDermatoscopicDialog::setShown(Pane &pane, const QSharedPointer<DermatoscopicItem> &item, int version)
{
    const QSharedPointer<DermatoscopicItem> old = pane.shown;
    const int oldVersion = pane.shownVersion;
    pane.shown = item;
    pane.shownVersion = version;
    const Pane &other = &pane == &m_left ? m_right : m_left;
    if (old && !(old == item && oldVersion == version) &&
        !(other.shown == old && other.shownVersion == oldVersion)) {
        // Still kept while the budget has room, but no longer pinned.
        old->setImagePinned(oldVersion, false);
        if (ItemView *view = viewOf(old.data())) {
            const VersionView &v = view->versions[size_t(oldVersion)];
            if (v.fullAdjusted && m_budget)
                m_budget->setPinned(this, v.key, false);
        }
    }
    item->requestPreview(version);
    if (!m_superposing)
        wantFull(item, version, true);
    resetAdjuster(pane);
    if (ItemView *view = viewOf(item.data())) {
        refreshVersion(*view, version);
        const VersionView &v = view->versions[size_t(version)];
        if (v.fullAdjusted && m_budget)
            m_budget->setPinned(this, v.key, true);
    }
}

void QtDermatoscopicDialog::wantFull(const QSharedPointer<DermatoscopicItem> &item, int version, bool pinned)
{
    if (!item->getImageSize(version).isValid())
        return;
    item->requestImage(version, pinned);
}

void QtDermatoscopicDialog::resetAdjuster(Pane &pane)
{
    if (!pane.adjuster)
        return;
    if (!pane.shown) {
        pane.adjuster->setImages(QImage(), QImage());
        return;
    }
    pane.adjuster->setImages(pane.shown->loadedImage(pane.shownVersion),
                             pane.shown->getPreview(pane.shownVersion));
}

void QtDermatoscopicDialog::onPreviewLoaded(DermatoscopicItem *item, int index)
{
    ItemView *view = viewOf(item);
    if (!view)
        return;
    view->versions[size_t(index)].adjustedPreview = QImage();
    refreshVersion(*view, index);
    for (Pane *pane : {&m_left, &m_right}) {
        if (pane->shown.data() == item && pane->shownVersion == index)
            resetAdjuster(*pane);
    }
}

void QtDermatoscopicDialog::onImageLoaded(DermatoscopicItem *item, int index)
{
    ItemView *view = viewOf(item);
    if (!view)
        return;
    VersionView &v = view->versions[size_t(index)];
    // An adjusted version shows its adjusted preview until its adjusted
    // full image is ready: never the unadjusted pixels.
    refreshVersion(*view, index);
    for (int side : {leftSide, rightSide}) {
        Pane &pane = paneOf(side);
        if (pane.shown.data() != item || pane.shownVersion != index)
            continue;
        resetAdjuster(pane);
        if (v.adjusted() && !v.fullAdjusted)
            startFullAdjustment(pane);
    }
    if (m_superposing && index == 0 && (item == m_superBase.data() || item == m_superTop.data())) {
        const bool baseDone = m_superBase->isImageLoaded(0) || !m_superBase->getImageSize(0).isValid() ||
                              (item == m_superBase.data() && !item->isImageLoaded(0));
        const bool topDone = m_superTop->isImageLoaded(0) || !m_superTop->getImageSize(0).isValid() ||
                             (item == m_superTop.data() && !item->isImageLoaded(0));
        if (baseDone && topDone)
            runSuperposition();
    }
}

void QtDermatoscopicDialog::onImageReleased(DermatoscopicItem *item, int index)
{
    ItemView *view = viewOf(item);
    if (!view)
        return;
    for (Pane *pane : {&m_left, &m_right}) {
        if (pane->shown.data() == item && pane->shownVersion == index)
            resetAdjuster(*pane);
    }
    refreshVersion(*view, index);
    if (view->versions[size_t(index)].display == Display::Nothing)
        item->requestPreview(index);
}

void QtDermatoscopicDialog::onImageStored(DermatoscopicItem *item, int index)
{
    ItemView *view = viewOf(item);
    if (!view)
        return;
    VersionView &v = view->versions[size_t(index)];
    QSize size = item->getImageSize(index);
    if (!size.isValid() || size.isEmpty())
        size = DermatoscopicItem::placeholderSize;
    v.rect.setSize(size);
    m_sceneBounds |= QRectF(v.rect);
    v.adjustedPreview = QImage();
    dropAdjustedFull(*view, index);
    v.display = Display::Nothing;
    refreshVersion(*view, index);
    refitPanesShowing(item, index);
}

void QtDermatoscopicDialog::refitPanesShowing(DermatoscopicItem *item, int index)
{
    for (int side : {leftSide, rightSide}) {
        Pane &pane = paneOf(side);
        if (pane.shown.data() != item || pane.shownVersion != index)
            continue;
        // The image arrived for a pane that showed its placeholder: it
        // takes the image's rectangle and is fitted to it.
        setShown(pane, pane.shown, index);
        const QRect r = viewOf(item)->versions[size_t(index)].rect;
        pane.view->setFitRect(r);
        pane.view->setSceneRect(r);
        pane.view->setOffsetPoint(item->getDermatoscopicCenter(r.size()));
        fitPane(pane.view);
        fillVersionList(side);
    }
}

// ---- adjustments ----

void QtDermatoscopicDialog::on_slider_valueChanged(int position, int type)
{
    Q_UNUSED(position)
    const int side = type == leftSide ? leftSide : rightSide;
    Pane &pane = paneOf(side);
    ItemView *view = pane.shown ? viewOf(pane.shown.data()) : nullptr;
    if (!view)
        return;
    VersionView &v = view->versions[size_t(pane.shownVersion)];
    const double brightness = adjustmentFromSlider(pane.brightness->value());
    const double sharpness = adjustmentFromSlider(pane.sharpness->value());
    const bool moving = pane.brightness->slider()->isSliderDown() || pane.sharpness->slider()->isSliderDown();
    const bool changed = brightness != v.brightness || sharpness != v.sharpness;
    if (changed) {
        v.brightness = brightness;
        v.sharpness = sharpness;
        v.adjustedPreview = QImage();
        dropAdjustedFull(*view, pane.shownVersion);
    }
    if (!v.adjusted()) {
        pane.adjuster->setImages(QImage(), QImage());
        resetAdjuster(pane);
        refreshVersion(*view, pane.shownVersion);
        return;
    }
    if (changed) {
        // At once, on the preview: the display follows the slider.
        const QImage step = pane.adjuster->adjustWhileMoving(brightness, sharpness);
        if (!step.isNull()) {
            v.adjustedPreview = step;
            showScaled(v.pixmapItem, step, v.rect.size());
            v.display = Display::Preview;
        }
    }
    if (!moving && !v.fullAdjusted && !pane.adjuster->isAdjustingFull())
        startFullAdjustment(pane);
}

void QtDermatoscopicDialog::startFullAdjustment(Pane &pane)
{
    if (!pane.shown)
        return;
    ItemView *view = viewOf(pane.shown.data());
    const VersionView &v = view->versions[size_t(pane.shownVersion)];
    if (!v.adjusted())
        return;
    if (!pane.shown->isImageLoaded(pane.shownVersion)) {
        // Decoded first; its arrival starts the adjustment.
        wantFull(pane.shown, pane.shownVersion, true);
        return;
    }
    resetAdjuster(pane);
    pane.adjuster->adjustFull(v.brightness, v.sharpness);
}

void QtDermatoscopicDialog::onFullAdjusted(int side, const QImage &image, double brightness, double sharpness)
{
    Pane &pane = paneOf(side);
    ItemView *view = pane.shown ? viewOf(pane.shown.data()) : nullptr;
    if (!view || image.isNull())
        return;
    const int version = pane.shownVersion;
    VersionView &v = view->versions[size_t(version)];
    if (v.brightness != brightness || v.sharpness != sharpness || v.fullAdjusted)
        return;
    const QString firstId = pane.shown->getIds().front();
    QPointer<QtDermatoscopicDialog> self(this);
    if (m_budget && !m_budget->reserve(this, v.key, true, [self, firstId, version] {
            if (!self)
                return;
            const auto it = self->m_items.find(firstId);
            if (it == self->m_items.end())
                return;
            it->second.versions[size_t(version)].fullAdjusted = false;
            self->refreshVersion(it->second, version);
        }))
        return; // no room: the adjusted preview stays
    if (m_budget)
        m_budget->markHeld(this, v.key);
    showAsIs(v.pixmapItem, QPixmap::fromImage(image));
    v.fullAdjusted = true;
    v.display = Display::Full;
    // The original is kept only while there is room for it.
    pane.shown->setImagePinned(version, false);
}

void QtDermatoscopicDialog::dropAdjustedFull(ItemView &view, int version)
{
    VersionView &v = view.versions[size_t(version)];
    if (!v.fullAdjusted)
        return;
    v.fullAdjusted = false;
    if (m_budget)
        m_budget->release(this, v.key);
}

// ---- zoom ----

void QtDermatoscopicDialog::zoomIn(int side)
{
    Pane &pane = paneOf(side);
    if (!pane.view)
        return;
    const double factor = std::pow(GraphicsView::wheelBase, 120.0);
    pane.view->zoom(factor);
    if (GraphicsView *paired = pane.view->getPairedView(); paired && pane.view->isParallel()) {
        paired->zoom(factor);
        paired->centerOn(
            pane.view->correspondingPoint(pane.view->mapToScene(pane.view->viewport()->rect().center())));
    }
    QFile styleSheet(QStringLiteral("styleSheet.qss"));
    if (styleSheet.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
}

void QtDermatoscopicDialog::zoomOut(int side)
{
    Pane &pane = paneOf(side);
    if (!pane.view)
        return;
    const double factor = std::pow(GraphicsView::wheelBase, -120.0);
    pane.view->zoom(factor);
    if (GraphicsView *paired = pane.view->getPairedView(); paired && pane.view->isParallel()) {
        paired->zoom(factor);
        paired->centerOn(
            pane.view->correspondingPoint(pane.view->mapToScene(pane.view->viewport()->rect().center())));
    }
}

void QtDermatoscopicDialog::fitInViewButton(int side)
{
    fitPane(paneOf(side).view);
}

// ---- superposition ----

void QtDermatoscopicDialog::pinShown(bool pinned)
{
    for (Pane *pane : {&m_left, &m_right}) {
        if (!pane->shown)
            continue;
        pane->shown->setImagePinned(pane->shownVersion, pinned);
        if (ItemView *view = viewOf(pane->shown.data())) {
            const VersionView &v = view->versions[size_t(pane->shownVersion)];
            if (v.fullAdjusted && m_budget)
                m_budget->setPinned(this, v.key, pinned);
        }
    }
}

void QtDermatoscopicDialog::superpose()
{
    if (m_superposing || !m_left.shown || !m_right.shown)
        return;
    const QSharedPointer<DermatoscopicItem> base = m_left.shown;
    const QSharedPointer<DermatoscopicItem> top = m_right.shown;
    if (!base->getImageSize(0).isValid() || !top->getImageSize(0).isValid()) {
        kelvarisVisualizer::showNotification(tr("This image is not downloaded yet"), 5000);
        return;
    }
    m_superposing = true;
    m_superBase = base;
    m_superTop = top;
    // The panes' full images may make room for the two first images.
    pinShown(false);
    setCursor(Qt::WaitCursor);
    base->requestImage(0, true);
    top->requestImage(0, true);
    if (m_superposing && base->isImageLoaded(0) && top->isImageLoaded(0))
        runSuperposition();
}

void QtDermatoscopicDialog::runSuperposition()
{
    if (!m_superposing || !m_superBase || !m_superTop)
        return;
    const QSharedPointer<DermatoscopicItem> base = m_superBase;
    const QSharedPointer<DermatoscopicItem> top = m_superTop;
    m_superBase.reset();
    m_superTop.reset();
    unsetCursor();
    QPointer<QtDermatoscopicDialog> self(this);
    QPointer<QtImageComparisonWidget> comparison = new QtImageComparisonWidget(this);
    bool shown = false;
    {
        const QImage a = base->loadedImage(0);
        const QImage b = top->loadedImage(0);
        shown = comparison->setImages(a, b, base->getIcon(), top->getIcon());
        if (shown)
            comparison->alignCentres(base->getDermatoscopicCenter(a.size()),
                                     top->getDermatoscopicCenter(b.size()));
    }
    // The comparison keeps reduced copies only.
    base->setImagePinned(0, false);
    top->setImagePinned(0, false);
    if (!shown) {
        delete comparison.data();
        kelvarisVisualizer::showNotification(tr("This image is not downloaded yet"), 5000);
    } else {
        comparison->exec();
        delete comparison.data();
    }
    if (!self)
        return;
    m_superposing = false;
    pinShown(true);
    for (Pane *pane : {&m_left, &m_right}) {
        if (pane->shown)
            wantFull(pane->shown, pane->shownVersion, true);
    }
}
