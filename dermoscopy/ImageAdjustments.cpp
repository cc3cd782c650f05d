#include "dermoscopy/ImageAdjustments.h"

#include "widgets/Trace.h"

#include <QString>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <exception>
#include <stdexcept>

namespace {

// A matrix over the image's own bytes (no copy); rows keep the image's stride,
// which for RGB888 is padded to a multiple of 4 bytes.
cv::Mat viewOf(const QImage &image, int type)
{
    return cv::Mat(image.height(), image.width(), type, const_cast<uchar *>(image.constBits()),
                   size_t(image.bytesPerLine()));
}

cv::Mat viewOf(QImage &image, int type)
{
    return cv::Mat(image.height(), image.width(), type, image.bits(), size_t(image.bytesPerLine()));
}

bool isGreyTable(const QImage &image)
{
    const QList<QRgb> table = image.colorTable();
    if (table.size() != 256)
        return false;
    for (int i = 0; i < 256; ++i) {
        if (table[i] != qRgb(i, i, i))
            return false;
    }
    return true;
}

// Runs an OpenCV step; an exception becomes a trace line and false.
template <typename Step> bool guarded(const char *what, Step step)
{
    try {
        step();
        return true;
    } catch (const cv::Exception &e) {
        kelvaris::trace(
            QStringLiteral("%1: OpenCV failed: %2").arg(QLatin1String(what), QString::fromStdString(e.msg)));
    } catch (const std::exception &e) {
        kelvaris::trace(QStringLiteral("%1: failed: %2").arg(QLatin1String(what), QLatin1String(e.what())));
    }
    return false;
}

} // namespace

double adjustmentFromSlider(int position)
{
    return position / 100.0 * 2.0;
}

int sliderFromAdjustment(double value)
{
    return int(std::lround(value * 0.5 * 100.0));
}

std::array<uchar, 256> brightnessTable(double brightness)
{
    const double exponent = ((2.0 - brightness) - 1.0) * 0.5 + 1.0;
    std::array<uchar, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = cv::saturate_cast<uchar>(std::pow(i / 255.0, exponent) * 255.0);
    return table;
}

bool adjustImage(QImage &image, std::vector<double> params)
{
    if (image.isNull() || params.size() < 2)
        return false;
    const double brightness = params[0];
    const double sharpness = params[1];
    kelvaris::trace(QStringLiteral("Params:%1 %2").arg(2.0 - brightness).arg(sharpness));

    // Decoded JPEGs are RGB32 (colour) or Grayscale8 (grey); anything else is
    // brought to RGB32 so that every image can be adjusted.
    QImage source = image;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_RGB888)
        source = source.convertToFormat(QImage::Format_RGB32);
    if (source.isNull())
        return false;

    // RGB32 lies in memory as B, G, R, A on the little-endian machines the
    // program runs on; RGB888 as R, G, B.
    const bool fourChannels = source.format() == QImage::Format_RGB32;
    const int toLab = fourChannels ? cv::COLOR_BGR2Lab : cv::COLOR_RGB2Lab;

    QImage result(source.size(), QImage::Format_RGB888);
    if (result.isNull())
        return false;
    const bool done = guarded("adjustImage", [&]() {
        const cv::Mat input = viewOf(source, fourChannels ? CV_8UC4 : CV_8UC3);
        const std::array<uchar, 256> table = brightnessTable(brightness);
        const cv::Mat lut(1, 256, CV_8U, const_cast<uchar *>(table.data()));
        cv::Mat bright;
        cv::LUT(input, lut, bright);

        // Written straight into the result's rows.
        cv::Mat output = viewOf(result, CV_8UC3);
        if (sharpness == 0.0) {
            // Without CLAHE the L*a*b* round trip changes nothing but rounding;
            // only the channel order remains to be set.
            if (fourChannels)
                cv::cvtColor(bright, output, cv::COLOR_BGRA2RGB);
            else
                bright.copyTo(output);
        } else {
            cv::Mat lab;
            cv::cvtColor(bright, lab, toLab);
            std::vector<cv::Mat> channels;
            cv::split(lab, channels);
            cv::Ptr<cv::CLAHE> clahe = cv::createCLAHE(sharpness, cv::Size(8, 8));
            cv::Mat lightness;
            clahe->apply(channels[0], lightness);
            channels[0] = lightness;
            cv::merge(channels, lab);
            cv::cvtColor(lab, output, cv::COLOR_Lab2RGB);
        }
        if (output.data != result.bits())
            throw std::runtime_error("the result matrix was reallocated");
    });
    if (!done)
        return false;
    image = result;
    return true;
}

cv::Mat QImageToCvMat(const QImage &image)
{
    if (image.isNull())
        return cv::Mat();
    cv::Mat mat;
    guarded("QImageToCvMat", [&]() {
        switch (image.format()) {
        case QImage::Format_Grayscale8:
            mat = viewOf(image, CV_8UC1).clone();
            return;
        case QImage::Format_Indexed8:
            if (isGreyTable(image)) {
                mat = viewOf(image, CV_8UC1).clone();
                return;
            }
            break;
        case QImage::Format_RGB888:
            mat = viewOf(image.rgbSwapped(), CV_8UC3).clone();
            return;
        default:
            break;
        }
        // Everything else as R, G, B, A, unpremultiplied.
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32).rgbSwapped();
        mat = viewOf(argb, CV_8UC4).clone();
    });
    return mat;
}

QImage cvMatToQImage(const cv::Mat &mat)
{
    if (mat.empty())
        return QImage();
    QImage image;
    guarded("cvMatToQImage", [&]() {
        switch (mat.type()) {
        case CV_8UC1:
            image = QImage(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_Grayscale8).copy();
            break;
        case CV_8UC3:
            image = QImage(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_RGB888).rgbSwapped();
            break;
        case CV_8UC4:
            image = QImage(mat.data, mat.cols, mat.rows, int(mat.step), QImage::Format_ARGB32).rgbSwapped();
            break;
        default:
            kelvaris::trace(QStringLiteral("cvMatToQPixmap() - cv::Mat image type not handled in switch: %1")
                                .arg(mat.type()));
            break;
        }
    });
    return image;
}

QPixmap cvMatToQPixmap(const cv::Mat &mat)
{
    const QImage image = cvMatToQImage(mat);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}
