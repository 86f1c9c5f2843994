#pragma once

#include <QDate>
#include <QString>

#include <optional>

namespace qrb {

// The rules of the reservation form that need neither widgets nor the database: the slot line, the
// slot a row's pickers name, the birth-date rewrite and age, and the codes of the 種別 options.

// "現在の予約人数：3人    予約可能人数：あと-1人"
QString slotLine(int reservations, int places);

// How a slot of the month grid is marked: at its capacity, or holding more than it offers (a slot that
// offers no places is only marked once someone is booked into it).
enum class SlotFill { Open, Full, Over };
SlotFill slotFill(int reservations, int places);

// The slot a row's four pickers name.
struct Slot {
    QDate date;
    QString dateKey; // "YYYY/MM/DD"
    QString hour;    // "08" … "17"
};
// Nothing when the texts are no real day written as the lists write it (four-digit year, two-digit
// month and day) or the hour is none of the ten slots: such a slot could be stored but never shown.
std::optional<Slot> slotFromTexts(const QString &year, const QString &month, const QString &day, const QString &hour);

// Digits typed with the input method on arrive full-width ("２０"): the same text with them made the
// ASCII digits they are.
QString halfwidthDigits(const QString &typed);
// What a month, day or hour picker holds once left: one digit, half- or full-width, padded to two as
// its list writes it ("3", "３" → "03"); other digits made half-width; blanks around dropped.
QString pickerText(const QString &typed);

// The birth-date box as it reads after leaving it: eight digits are a western date ("20020101" →
// "2002年01月01日", age mode 0), six an era date ("190101" → "19年01月01日", mode 1). Any other
// length is left alone (nothing). Full-width digits count as the digits they are.
struct BirthDateText {
    QString text;
    int ageMode = 0;
};
std::optional<BirthDateText> rewriteBirthDate(const QString &typed);

// Completed years on `today` of the birth date "2002年01月01日" (mode 0) or era + "19年01月01日"
// (mode 1). Nothing when the text is no date, the era is no Japanese era in mode 1 or the date lies
// outside it, the mode is neither, or the birth lies after today.
std::optional<int> get_age(int mode, const QString &era, const QString &dateText, QDate today);

// SFLG and SCNT of the first record for the chosen 種別 option (0 季節性, 1 新型, 2 新型　１回目,
// 3 新型  ２回目, -1 none). The second record of a 新型 pair is always 2 / 2.
struct DoseCodes {
    int sflg = 0;
    int scnt = 0;
};
DoseCodes doseCodesOfType(int typeIndex);
inline constexpr DoseCodes SecondDoseCodes{2, 2};

// Which 種別 option a stored record selects: 0 … 3, -1 for none, nothing for "leave the options as
// they are" (a 新型 pair row with an unknown dose).
std::optional<int> typeOfCodes(std::optional<int> sflg, std::optional<int> scnt);

// The remarks as stored: their own line breaks kept (CR LF, CR, LF and the separators each one line
// break), any other control character, a pasted tab say, made one blank within its line as oneLine does.
QString storedRemarks(const QString &typed);

// The second dose proposed for a 新型 booking: three weeks after the first.
QDate proposedSecondDose(QDate firstDose);

} // namespace qrb
