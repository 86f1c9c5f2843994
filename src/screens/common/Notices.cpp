#include "Notices.h"

#include <QDir>
#include <QList>

using namespace Qt::StringLiterals;

namespace qrb {

void Notices::post(const QString &text)
{
    m_last = text;
    emit posted(text);
}

QString bookedNotice(const QString &name, const QList<BookedSlot> &doses, bool updated)
{
    QStringList parts;
    for (qsizetype i = 0; i < doses.size(); ++i) {
        const BookedSlot &dose = doses.at(i);
        parts << u"%1%2 %3時（予約番号 %4）"_s.arg(i == 0 ? QString() : u"2回目 "_s, dose.dateKey, dose.hour)
                     .arg(dose.yno);
    }
    return (updated ? u"予約を更新しました："_s : u"予約を登録しました："_s) + name + u"　"_s + parts.join(u"・"_s);
}

QString cancelledNotice(const QString &name, const QString &dateKey, const QString &hour)
{
    return u"予約を取り消しました：%1　%2 %3時"_s.arg(name, dateKey, hour);
}

QString visitNotice(const QStringList &names, bool arrived)
{
    return (arrived ? u"来院済みにしました："_s : u"未来院に戻しました："_s) + names.join(u"、"_s);
}

QString capacitiesSavedNotice()
{
    return u"予約可能人数を保存しました。"_s;
}

QString deletedNotice(int count, const QString &backupPath)
{
    const QString deleted = u"予約データを %1 件削除しました。"_s.arg(count);
    return backupPath.isEmpty() ? deleted
                                : deleted + u"削除前のバックアップ：%1"_s.arg(QDir::toNativeSeparators(backupPath));
}

} // namespace qrb
