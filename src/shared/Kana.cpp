#include "Kana.h"

namespace qrb {

namespace {

// U+FF61 … U+FF9D in order, as full-width characters (U+FF9E/F are the voicing marks).
constexpr char16_t fullOfHalf[] = u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";
constexpr char16_t halfFirst = 0xFF61;
constexpr char16_t halfLast = 0xFF9D;
constexpr char16_t halfVoiced = 0xFF9E;
constexpr char16_t halfSemiVoiced = 0xFF9F;
constexpr char16_t combiningVoiced = 0x3099;
constexpr char16_t combiningSemiVoiced = 0x309A;

bool isHiragana(char16_t c)
{
    return c >= 0x3041 && c <= 0x3096;
}

bool isFullKatakana(char16_t c)
{
    return c >= 0x30A1 && c <= 0x30F6;
}

QString hiraganaToKatakana(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (isHiragana(c.unicode())) {
            c = QChar(static_cast<char16_t>(c.unicode() + 0x60));
        }
    }
    return out;
}

char16_t halfOfFull(char16_t c)
{
    for (char16_t i = 0; i <= halfLast - halfFirst; ++i) {
        if (fullOfHalf[i] == c) {
            return static_cast<char16_t>(halfFirst + i);
        }
    }
    return 0;
}

} // namespace

QString toHalfwidthKatakana(const QString &text)
{
    // Decomposed, every voiced kana is its plain kana followed by a combining mark. Only kana are
    // decomposed: other characters (a compatibility ideograph in a name) stay exactly as typed.
    QString decomposed;
    for (const QChar c : hiraganaToKatakana(text)) {
        decomposed += isFullKatakana(c.unicode()) ? QString(c).normalized(QString::NormalizationForm_D) : QString(c);
    }
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : std::as_const(decomposed)) {
        const char16_t u = c.unicode();
        if (u == combiningVoiced || u == 0x309B) {
            out += QChar(halfVoiced);
        } else if (u == combiningSemiVoiced || u == 0x309C) {
            out += QChar(halfSemiVoiced);
        } else if (const char16_t half = halfOfFull(u)) {
            out += QChar(half);
        } else {
            out += c;
        }
    }
    return out;
}

QString toFullwidthKatakana(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : hiraganaToKatakana(text)) {
        const char16_t u = c.unicode();
        if (u >= halfFirst && u <= halfLast) {
            out += QChar(fullOfHalf[u - halfFirst]);
        } else if ((u == halfVoiced || u == halfSemiVoiced) && !out.isEmpty() && isFullKatakana(out.back().unicode())) {
            // ｶﾞ → ガ: the kana before the mark and the mark become one character where one exists.
            const QChar mark(u == halfVoiced ? combiningVoiced : combiningSemiVoiced);
            const QString composed = QString(QString(out.back()) + mark).normalized(QString::NormalizationForm_C);
            out.chop(1);
            out += composed;
        } else if (u == halfVoiced) {
            out += QChar(0x309B);
        } else if (u == halfSemiVoiced) {
            out += QChar(0x309C);
        } else {
            out += c;
        }
    }
    return out;
}

QString toHiragana(const QString &text)
{
    QString out = toFullwidthKatakana(text);
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u >= 0x30A1 && u <= 0x30F6) {
            c = QChar(static_cast<char16_t>(u - 0x60));
        }
    }
    return out;
}

bool isAllKana(const QString &text)
{
    if (text.isEmpty()) {
        return false;
    }
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool kana = isHiragana(u) || isFullKatakana(u) || (u >= 0xFF66 && u <= halfSemiVoiced) || u == 0x30FC
                          || u == 0x309B || u == 0x309C || u == combiningVoiced || u == combiningSemiVoiced;
        if (!kana) {
            return false;
        }
    }
    return true;
}

} // namespace qrb
