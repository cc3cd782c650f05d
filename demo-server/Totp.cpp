#include "demo-server/Totp.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

namespace {
const char base32Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
}

QString Totp::hotp(const QByteArray &key, quint64 counter, int digits)
{
    QByteArray message(8, '\0');
    for (int i = 7; i >= 0; --i) {
        message[i] = char(counter & 0xff);
        counter >>= 8;
    }
    const QByteArray mac = QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha1);
    const int offset = mac.at(mac.size() - 1) & 0x0f;
    const quint32 binary = (quint32(quint8(mac.at(offset)) & 0x7f) << 24) |
                           (quint32(quint8(mac.at(offset + 1))) << 16) |
                           (quint32(quint8(mac.at(offset + 2))) << 8) | quint32(quint8(mac.at(offset + 3)));
    quint32 modulus = 1;
    for (int i = 0; i < digits; ++i)
        modulus *= 10;
    return QString::number(binary % modulus).rightJustified(digits, QLatin1Char('0'));
}

QString Totp::code(const QByteArray &key, qint64 unixSeconds, int digits, int period)
{
    if (unixSeconds < 0 || period <= 0)
        return {};
    return hotp(key, quint64(unixSeconds / period), digits);
}

bool Totp::verify(const QByteArray &key, const QString &candidate, qint64 unixSeconds, int skewSteps,
                  int digits, int period)
{
    const QString trimmed = candidate.trimmed();
    if (key.isEmpty() || trimmed.size() != digits || period <= 0)
        return false;
    for (QChar c : trimmed) {
        if (!c.isDigit())
            return false;
    }
    const qint64 step = unixSeconds / period;
    bool matched = false;
    // Every candidate step is compared so that the time taken does not tell
    // which one matched.
    for (qint64 s = step - skewSteps; s <= step + skewSteps; ++s) {
        if (s < 0)
            continue;
        const QString expected = hotp(key, quint64(s), digits);
        int difference = 0;
        for (int i = 0; i < digits; ++i)
            difference |= expected.at(i).unicode() ^ trimmed.at(i).unicode();
        matched = matched || difference == 0;
    }
    return matched;
}

QByteArray Totp::fromBase32(const QString &text, bool *ok)
{
    QByteArray out;
    quint32 buffer = 0;
    int bits = 0;
    bool valid = true;
    for (QChar c : text) {
        if (c == QLatin1Char('=') || c == QLatin1Char(' ') || c == QLatin1Char('-'))
            continue;
        const char upper = char(c.toUpper().unicode());
        const char *found = c.unicode() < 128 ? strchr(base32Alphabet, upper) : nullptr;
        if (!found || upper == '\0') {
            valid = false;
            break;
        }
        buffer = (buffer << 5) | quint32(found - base32Alphabet);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.append(char((buffer >> bits) & 0xff));
        }
    }
    if (ok)
        *ok = valid;
    return valid ? out : QByteArray();
}

QString Totp::toBase32(const QByteArray &bytes)
{
    QString out;
    quint32 buffer = 0;
    int bits = 0;
    for (char byte : bytes) {
        buffer = (buffer << 8) | quint8(byte);
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            out.append(QLatin1Char(base32Alphabet[(buffer >> bits) & 0x1f]));
        }
    }
    if (bits > 0)
        out.append(QLatin1Char(base32Alphabet[(buffer << (5 - bits)) & 0x1f]));
    return out;
}
