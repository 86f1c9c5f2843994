#include "Text.h"

using namespace Qt::StringLiterals;

namespace qrb {

QString nvl_str(const QVariant &value, const QString &defaultText)
{
    if (value.isNull() || !value.isValid()) {
        return defaultText;
    }
    const QString text = value.toString();
    return text.isEmpty() ? defaultText : text;
}

QString pct(qint64 numerator, qint64 denominator)
{
    if (denominator == 0) {
        return u"***%"_s;
    }
    // Tenths of a percent in whole numbers, so that 1/16 (6.25) rounds up as the pattern does and no
    // binary fraction gets in the way.
    const bool negative = (numerator < 0) != (denominator < 0);
    const qint64 n = numerator < 0 ? -numerator : numerator;
    const qint64 d = denominator < 0 ? -denominator : denominator;
    const qint64 tenths = (n * 2000 + d) / (2 * d);
    const QString digits = QString::number(tenths / 10) + u'.' + QString::number(tenths % 10) + u'%';
    return (negative && tenths != 0) ? u'-' + digits : digits;
}

QString padRight(const QString &text, int width, QChar blank)
{
    // Characters, not UTF-16 units: 𠮷 or an emoji is one character (two units), as any full-width one is.
    const auto characters = static_cast<int>(text.toUcs4().size());
    return characters >= width ? text : text + QString(width - characters, blank);
}

QString oneLine(const QString &text)
{
    const auto isControl = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
    };
    QString line;
    line.reserve(text.size());
    bool inRun = false;
    for (const QChar c : text) {
        if (isControl(c)) {
            inRun = true;
            continue;
        }
        if (inRun && !line.isEmpty()) {
            line += u' ';
        }
        inRun = false;
        line += c;
    }
    return line;
}

} // namespace qrb
