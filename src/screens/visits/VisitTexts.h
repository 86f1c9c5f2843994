#pragma once

#include <QString>

namespace qrb {

struct Reservation;
struct VisitEntry;

// A line of the visit record lists: the hour, "時 --- " and the name ("08時 --- 山田花子").
QString visitLine(const VisitEntry &entry);

// The code texts of the detail message; an unknown code reads as the empty text.
QString RFLG_text(int code);
QString KFLG_text(int code);
QString SFLG_text(int kind, int dose);

// The six lines shown on a double click: number, telephones, visits before, member, kind and note.
QString detailText(const Reservation &reservation);

} // namespace qrb
