#pragma once

#include <QString>

namespace qrb {

// The three ways a reading is written at the desk: hiragana (the input method's default), full-width
// katakana and half-width katakana, in which KKNM is normally stored. Characters that are no kana
// pass through unchanged.

// "やまだ", "ヤマダ" → "ﾔﾏﾀﾞ" (voiced marks become a separate "ﾞ"/"ﾟ").
QString toHalfwidthKatakana(const QString &text);
// "ﾔﾏﾀﾞ", "やまだ" → "ヤマダ".
QString toFullwidthKatakana(const QString &text);
// "ﾔﾏﾀﾞ", "ヤマダ" → "やまだ".
QString toHiragana(const QString &text);
// True when every character is kana (either width), a prolonged-sound or voicing mark; false when empty.
bool isAllKana(const QString &text);

} // namespace qrb
