#pragma once

#include <QImage>
#include <QPixmap>

#include <opencv2/core.hpp>

#include <array>
#include <vector>

// Brightness and local-contrast adjustment of dermatoscopic images, and the
// conversions between QImage and OpenCV matrices used by the viewer and the
// comparison.
//
// None of these functions throws: OpenCV failures are caught, traced, and
// leave the input as it was. Apart from cvMatToQPixmap (pixmaps belong to the
// GUI thread) they touch only their arguments and may run on any thread.

// A slider position 0..100 and an adjustment parameter 0..2 (50 is 1.0).
double adjustmentFromSlider(int position);
int sliderFromAdjustment(double value);

// entry[i] = round(pow(i / 255, e) * 255) with e = 1.5 - 0.5 * brightness:
// darker below 1, the identity at 1, brighter above.
std::array<uchar, 256> brightnessTable(double brightness);

// Brightness (params[0]) through the table above on every channel, then CLAHE
// with clip limit params[1] (0: none) and an 8 by 8 tile grid on the
// lightness of L*a*b*. The result is an RGB888 image of the same size. Any
// other input format than RGB32 and RGB888 is converted first; a null image
// or missing parameters leave the image unchanged. Returns whether the image
// was adjusted.
bool adjustImage(QImage &image, std::vector<double> params);

// Deep copies. A 4-channel matrix holds R, G, B, A in memory order, a
// 3-channel one B, G, R (OpenCV's own order), a 1-channel one grey levels.
// RGB888 gives 3 channels, Grayscale8 and grey Indexed8 give 1 channel, every
// other format 4 channels (converted to ARGB32 first). A null image gives an
// empty matrix.
cv::Mat QImageToCvMat(const QImage &image);
// The inverse of QImageToCvMat for 8-bit matrices of 1, 3 or 4 channels; any
// other type gives a null image and a trace line.
QImage cvMatToQImage(const cv::Mat &mat);
// cvMatToQImage as a pixmap (GUI thread only).
QPixmap cvMatToQPixmap(const cv::Mat &mat);
