#pragma once

#include <QObject>
#include <QString>

namespace qrb {

// What the desk has just written, told in the main window's status bar: every screen posts here
// after a write has succeeded, so the receptionist sees what was done without a box to close.
class Notices final : public QObject
{
    Q_OBJECT

public:
    void post(const QString &text);
    // The latest notice, also after it has faded from the status bar.
    QString last() const { return m_last; }

signals:
    void posted(const QString &text);

private:
    QString m_last;
};

// One booked slot of a notice: the date key, the hour key ("10") and the reservation number.
struct BookedSlot {
    QString dateKey;
    QString hour;
    int yno = 0;
};

// The texts of the notices, in one place so that every screen words them alike.
// "予約を登録しました：山田　2009/10/09 10時（予約番号 12）", with the second dose after "・" for a pair;
// `updated` when the patient's record of the slot was rewritten instead of added.
QString bookedNotice(const QString &name, const QList<BookedSlot> &doses, bool updated);
QString cancelledNotice(const QString &name, const QString &dateKey, const QString &hour);
// Patients moved to the visited list (arrived) or back.
QString visitNotice(const QStringList &names, bool arrived);
QString capacitiesSavedNotice();
// How many reservations were deleted, and where the copy taken before went (none on a server).
QString deletedNotice(int count, const QString &backupPath);

} // namespace qrb
