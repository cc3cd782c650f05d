#pragma once

#include <QJsonObject>
#include <QJsonValue>

// The pose of one clinical image (and of a lesion's appearance on it). The
// device writes doubles; x, y and z are kept as 32-bit floats in memory.
struct CameraPose
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    double alpha = 0.0;
    double beta = 0.0;

    CameraPose() = default;
    CameraPose(float x_, float y_, float z_, double alpha_ = 0.0, double beta_ = 0.0)
        : x(x_), y(y_), z(z_), alpha(alpha_), beta(beta_)
    {
    }

    bool operator==(const CameraPose &other) const
    {
        return x == other.x && y == other.y && z == other.z && alpha == other.alpha && beta == other.beta;
    }
    bool operator!=(const CameraPose &other) const { return !(*this == other); }

    // Missing or non-numeric members read as 0.
    static CameraPose fromJson(const QJsonValue &value);
    // All five members as numbers; floats are written with the shortest
    // decimal that reads back as the same float, so 2.7f is written 2.7.
    QJsonObject toJson() const;

    // Narrowing that never overflows into undefined behaviour.
    static float toFloat(double value);
    // The double whose shortest decimal form is that of the float.
    static double floatToJsonNumber(float value);
};
