#pragma once

#include "db/Search.h"

#include <QString>

#include <optional>

namespace qrb {

struct Reservation;

// The texts of the search screen, made from a reservation's fields. A function answering nothing
// means the detail label keeps whatever it showed before.

// A line of the result list: name, date and hour joined by "＊".
QString searchLine(const SearchHit &hit);
// "08時 ～ 09時" for "08"; a stored hour that is no number is shown as it is.
QString hourRange(const QString &ytime);
// CFLG: "来院まだです。", "来院しました。", or the empty text.
QString visitStateText(std::optional<int> cflg);
// SFLG with SCNT: "(季節性)", "(新型 1回目)", …; nothing for an unknown kind.
std::optional<QString> vaccinationKindText(std::optional<int> sflg, std::optional<int> scnt);
// BFLG: "西暦", "明治", "大正", "昭和", "平成", "令和", or the empty text.
QString birthCalendarText(std::optional<int> bflg);
// RFLG: "未入力", "来院歴あり", "来院歴なし"; nothing for any other value.
std::optional<QString> visitHistoryText(std::optional<int> rflg);
// KFLG: "未入力", "組合員です", "組合員ではありません"; nothing for any other value.
std::optional<QString> membershipText(std::optional<int> kflg);

} // namespace qrb
