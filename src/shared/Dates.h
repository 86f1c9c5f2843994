#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <optional>

namespace qrb {

// The first of the ten hourly slots and the last one ("08" … "17").
inline constexpr int FirstSlotHour = 8;
inline constexpr int LastSlotHour = 17;
inline constexpr int SlotCount = LastSlotHour - FirstSlotHour + 1;

// "YYYY/MM/DD" as stored in YDATE, built from the selectors' texts as they stand.
QString dateKey(const QString &year, const QString &month, const QString &day);
// The date key of a real date.
QString dateKey(QDate date);

// The date the three texts name, or nothing when they are no date ("20x6", month 13, 31 April).
std::optional<QDate> dateFromTexts(const QString &year, const QString &month, const QString &day);
// A stored "YYYY/MM/DD" text read back as a date; nothing for any other text.
std::optional<QDate> dateFromKey(const QString &key);
// Days of month m of year y, or nothing when the texts are no year and month.
std::optional<int> daysInMonth(const QString &year, const QString &month);

// Monday 1 … Sunday 7, the coding of SWEEKDAY.
int weekdayNumber(QDate date);
// "(月)" … "(日)" for 1 … 7; the empty text for any other number.
QString weekdayLabel(int weekday);
// "月" … "日" for 1 … 7.
QString weekdayName(int weekday);

// Two digits, as the pickers hold months, days and hours.
QString twoDigits(int value);
// The slot key "08" … "17" of an hour; hours before and after opening are held to the first and last slot.
QString clampedSlot(QTime now);
// The slot key of the n-th slot, 0 … 9.
QString slotKey(int index);

} // namespace qrb
