#pragma once

#include <QString>
#include <QVariant>

namespace qrb {

// The default text when the value is Null or empty, otherwise the value as text. Every screen reads
// the text fields of YOYAKU through it.
QString nvl_str(const QVariant &value, const QString &defaultText);

// A rate shown with the pattern "0.0%": numerator/denominator × 100, one decimal, rounded half away
// from zero (2/3 → "66.7%", 1/16 → "6.3%"); "***%" when the denominator is 0.
QString pct(qint64 numerator, qint64 denominator);

// The text padded with blanks on the right up to width characters (code points, so that a character
// outside the Basic Multilingual Plane counts once); a longer text stays whole.
QString padRight(const QString &text, int width, QChar blank = u' ');

// The text on one line: every run of line breaks, tabs and other control characters (C0, DEL, C1,
// and the line and paragraph separators U+2028/U+2029) becomes one blank, and blanks the run left at
// either end are dropped. What a box stores and what a report prints never breaks a line because
// of what was pasted or what another program wrote.
QString oneLine(const QString &text);

} // namespace qrb
