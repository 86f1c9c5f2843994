#include "Letters.h"

#include "shared/Dates.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace qrb::mail {

namespace {

QString when(const Dose &dose)
{
    const int h = dose.hour.toInt();
    return u"%1年%2月%3日"_s.arg(dose.date.year()).arg(dose.date.month()).arg(dose.date.day()) +
           weekdayLabel(weekdayNumber(dose.date)) + u" %1:00～%2:00"_s.arg(h).arg(h + 1);
}

QString subjectOf(const Letterhead &head, const QString &text)
{
    return head.clinic.isEmpty() ? text : u"【"_s + head.clinic + u"】"_s + text;
}

QString checkLink(const Letterhead &head, int yno)
{
    return head.siteUrl + u"/check?yno="_s + QString::number(yno);
}

QStringList doseLines(const QList<Dose> &doses)
{
    QStringList lines;
    for (qsizetype i = 0; i < doses.size(); ++i) {
        const QString label = doses.size() > 1 ? u"%1回目"_s.arg(i + 1) : u"日時"_s;
        lines << u"　%1: %2（予約番号 %3）"_s.arg(label, when(doses.at(i))).arg(doses.at(i).yno);
    }
    return lines;
}

// The clinic's telephone and notice, and why the mail came, at the end of every mail.
QStringList closing(const Letterhead &head)
{
    QStringList lines{QString()};
    if (!head.notice.isEmpty()) {
        lines << head.notice << QString();
    }
    const QString name = head.clinic.isEmpty() ? u"当院"_s : head.clinic;
    lines << (head.tel.isEmpty() ? name : name + u"　電話 "_s + head.tel);
    lines << QString() << u"このメールは Web 予約のときに入力されたメールアドレスへ自動でお送りしています。"_s
          << u"お心当たりのない場合は、お手数ですがこのメールを破棄してください。返信にはお答えできません。"_s;
    return lines;
}

QString joined(const QStringList &lines)
{
    return lines.join(u'\n') + u'\n';
}

// A header of a text as RFC 2047 encoded words of UTF-8 (base64), folded so that no line is longer
// than 78 characters and no character is split between two words.
QByteArray encodedHeader(const QByteArray &name, const QString &text)
{
    // Encoded even where it is ASCII: a clinic's name with a comma or quote would otherwise change
    // what a mail program reads as the sender. 36 bytes of UTF-8 make 48 characters of base64: a word of 60 characters,
    // which fits on a line after "Subject: " and on every folded line after its leading blank.
    constexpr qsizetype WordBytes = 36;
    QByteArrayList words;
    QByteArray word;
    for (const char32_t c : text.toUcs4()) {
        const QByteArray bytes = QString::fromUcs4(&c, 1).toUtf8();
        if (word.size() + bytes.size() > WordBytes) {
            words << "=?UTF-8?B?" + word.toBase64() + "?=";
            word.clear();
        }
        word += bytes;
    }
    words << "=?UTF-8?B?" + word.toBase64() + "?=";
    return name + ": " + words.join("\r\n ");
}

} // namespace

Letter confirmationLetter(const Letterhead &head, const QList<Dose> &doses, const QString &cancelCode)
{
    QStringList lines{u"インフルエンザ予防接種のご予約を承りました。"_s, QString()};
    lines << doseLines(doses);
    lines << u"　取消コード: "_s + cancelCode << QString()
          << u"予約の確認・取消は次のページで、予約番号と取消コードを入力してください。"_s
          << u"取消コードは予約完了の画面とこのメールにだけ記載しています。大切に保管してください。"_s
          << checkLink(head, doses.first().yno) << QString() << u"当日は保険証と診察券をお持ちください。"_s;
    lines << closing(head);
    return {subjectOf(head, u"ご予約を承りました（予約番号 %1）"_s.arg(doses.first().yno)), joined(lines)};
}

Letter reminderLetter(const Letterhead &head, const Dose &dose, QDate today, int doseNumber, bool ofPair)
{
    const QString what = ofPair ? u"インフルエンザ予防接種（%1回目）"_s.arg(doseNumber) : u"インフルエンザ予防接種"_s;
    const QString day = dose.date == today ? u"本日"_s : u"明日"_s;
    QStringList lines{
        u"%1は%2のご予約の日です。"_s.arg(day, what),
        QString(),
        u"　日時: %1（予約番号 %2）"_s.arg(when(dose)).arg(dose.yno),
        QString(),
        u"ご都合が悪くなったときは、次のページで予約番号と取消コードを入力して取り消すか、お電話でご連絡ください。"_s,
        checkLink(head, dose.yno),
        QString(),
        u"当日は保険証と診察券をお持ちください。"_s};
    lines << closing(head);
    return {subjectOf(head, u"%1はご予約の日です（予約番号 %2）"_s.arg(day).arg(dose.yno)), joined(lines)};
}

Letter cancellationLetter(const Letterhead &head, const QList<Dose> &doses)
{
    QStringList lines{u"次のインフルエンザ予防接種のご予約を取り消しました。"_s, QString()};
    lines << doseLines(doses);
    lines << QString() << u"お心当たりのない取消のときは、お電話でご連絡ください。"_s;
    lines << closing(head);
    return {subjectOf(head, u"ご予約を取り消しました（予約番号 %1）"_s.arg(doses.first().yno)), joined(lines)};
}

QByteArray mimeMessage(const Letterhead &head, const QString &to, const Letter &letter, const QDateTime &date,
                       const QByteArray &messageId)
{
    QByteArray message;
    const QByteArray sender = "<" + head.from.toLatin1() + ">";
    message += head.clinic.isEmpty() ? QByteArray("From: " + sender)
                                     : QByteArray(encodedHeader("From", head.clinic) + " " + sender);
    message += "\r\n";
    message += "To: " + to.toLatin1() + "\r\n";
    message += encodedHeader("Subject", letter.subject) + "\r\n";
    message += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    message += "Message-ID: <" + messageId + "@" + head.from.mid(head.from.lastIndexOf(u'@') + 1).toLatin1() + ">\r\n";
    message += "MIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=UTF-8\r\n"
               "Content-Transfer-Encoding: base64\r\n"
               // No out-of-office replies or read receipts back to the clinic.
               "Auto-Submitted: auto-generated\r\n"
               "\r\n";
    const QByteArray body = QString(letter.body).replace(u"\n"_s, u"\r\n"_s).toUtf8().toBase64();
    for (qsizetype i = 0; i < body.size(); i += 76) {
        message += body.mid(i, 76) + "\r\n";
    }
    return message;
}

} // namespace qrb::mail
