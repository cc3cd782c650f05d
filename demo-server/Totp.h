#pragma once

#include <QByteArray>
#include <QString>

// Time-based one-time passwords (RFC 6238 over RFC 4226, HMAC-SHA1).
class Totp
{
public:
    static constexpr int defaultDigits = 6;
    static constexpr int defaultPeriod = 30;

    // The code for the time step that contains unixSeconds.
    static QString code(const QByteArray &key, qint64 unixSeconds, int digits = defaultDigits,
                        int period = defaultPeriod);
    // The HOTP value of one counter (RFC 4226 section 5.3).
    static QString hotp(const QByteArray &key, quint64 counter, int digits = defaultDigits);
    // True when candidate matches the step of now or one step either side.
    static bool verify(const QByteArray &key, const QString &candidate, qint64 unixSeconds, int skewSteps = 1,
                       int digits = defaultDigits, int period = defaultPeriod);

    // RFC 4648 base32, the form authenticator apps take a secret in.
    static QByteArray fromBase32(const QString &text, bool *ok = nullptr);
    static QString toBase32(const QByteArray &bytes);
};
