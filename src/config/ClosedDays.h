#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qrb {

// The days the clinic is shut: Japan's national holidays (unless the clinic opens on them) and the
// clinic's own closures, both from section [CLOSED] of setting.ini:
//
//     [CLOSED]
//     HOLIDAYS=1                        ; 1 (the default): national holidays close the clinic; 0: they do not
//     年末年始=2026/12/29-2027/01/03    ; a period, both days included
//     院長学会=2026/11/20               ; a single day
//
// Every other line of the section is one closure: any key (it only names the line; the same key may
// come back), "=", then a date YYYY/MM/DD or a period of two dates joined by "-". A ";" begins a
// note, at the start of a line or after the value. As everywhere in setting.ini the section's name counts regardless of
// case and only its first occurrence is read. A line that is none of this is left out and reported.
//
// The desk marks closed days; the web booking must never offer one. Both ask closedReason().
class ClosedDays
{
public:
    // National holidays close the clinic, no closures of its own: a setting.ini without [CLOSED].
    ClosedDays() = default;

    // Section [CLOSED] of <startDir>/setting.ini.
    static ClosedDays read(const QString &startDir);

    // Why the clinic is shut on that day: the holiday's name ("成人の日", "振替休日", …) when national
    // holidays close it, otherwise "休診日" for one of its own closures; nothing on an open day.
    std::optional<QString> closedReason(QDate date) const;
    // What the desk writes beside a slot on a closed day: "休診日（成人の日）", or for one of the clinic's
    // own closures "休診日" with the name setting.ini gives it ("休診日（年末年始）"); nothing on an open day.
    std::optional<QString> closedNote(QDate date) const;

    // One text per line of [CLOSED] that was left out, naming the line and what is wrong with it.
    const QStringList &problems() const { return m_problems; }
    // What to tell at start when lines were left out; empty when every line was read.
    QString problemsMessage() const;

private:
    struct Period {
        QDate first;
        QDate last;
        QString name; // the key of its line
    };
    const Period *closureOn(QDate date) const;
    bool m_holidaysClose = true;
    QList<Period> m_periods;
    QStringList m_problems;
};

} // namespace qrb
