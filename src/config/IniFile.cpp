#include "IniFile.h"

#include "shared/Cp932.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

constexpr qsizetype MaxValueBytes = 255;

bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The first 255 bytes of a CP932 value; a double-byte character that would straddle the limit is
// left out whole.
QByteArray cutValue(const QByteArray &bytes)
{
    if (bytes.size() <= MaxValueBytes) {
        return bytes;
    }
    qsizetype end = 0;
    while (end < bytes.size()) {
        const qsizetype width = isLeadByte(static_cast<unsigned char>(bytes.at(end))) ? 2 : 1;
        if (end + width > MaxValueBytes) {
            break;
        }
        end += width;
    }
    return bytes.left(end);
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text.at(begin))) {
        ++begin;
    }
    while (end > begin && blank(text.at(end - 1))) {
        --end;
    }
    return text.mid(begin, end - begin);
}

// The text of the file, or why it cannot be read. UTF-8 where the bytes are that (with or without the
// byte-order mark), as an editor of today saves them, otherwise CP932. Japanese CP932 text is never
// valid UTF-8, and Japanese UTF-8 (three bytes a character) is valid CP932 only by chance: a file
// holding lines of both, such as a UTF-8 file with a line added in Shift-JIS, would be read wrong
// whichever way, and a path read wrong makes a folder of garbled name. Such a file is refused, naming
// the first line that differs from the lines before it; so is a file that is not text at all.
struct IniText {
    QString text;
    QString problem;
};

IniText decodeIniText(const QByteArray &file)
{
    const bool bom = file.startsWith("\xEF\xBB\xBF");
    const QByteArray bytes = bom ? file.mid(3) : file;
    const auto utf8 = [](const QByteArray &b, bool *valid) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(b);
        *valid = !decoder.hasError();
        return text;
    };
    bool whole = false;
    QString text = utf8(bytes, &whole);
    if (whole && !bytes.contains('\0')) {
        return {text, {}};
    }
    enum Kind { Ascii, Utf8, Cp932 };
    const QString names[] = {QString(), u"UTF-8"_s, u"Shift-JIS(CP932)"_s};
    Kind first = bom ? Utf8 : Ascii;
    int firstLine = 1;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int number = static_cast<int>(i) + 1;
        bool valid = false;
        const QString asUtf8 = utf8(line, &valid);
        const QString asCp932 = decodeCp932(line);
        Kind kind = Ascii;
        if (line.contains('\0') || (!valid && asCp932.contains(QChar::ReplacementCharacter))) {
            return {{}, u"setting.ini の %1 行目に、文字として読めないバイトがあります(UTF-8 でも Shift-JIS(CP932) "
                        u"でもありません)。\nsetting.ini は UTF-8 か Shift-JIS(CP932) のテキストとして保存してください。"_s
                            .arg(number)};
        }
        if (!valid) {
            kind = Cp932;
        } else if (std::any_of(line.begin(), line.end(), [](char c) { return static_cast<uchar>(c) >= 0xE0; })) {
            kind = Utf8; // a character of three or four bytes: kana, kanji
        }
        // (two-byte UTF-8 sequences, such as "é", are also half-width katakana in CP932: they tell nothing)
        if (kind == Ascii) {
            continue;
        }
        if (first == Ascii) {
            first = kind;
            firstLine = number;
        } else if (kind != first) {
            return {{}, u"setting.ini の %1 行目は %2 で、%3 行目までの %4 と文字コードが違います。\n%1 行目: %5\n"
                        u"ファイル全体を UTF-8 か Shift-JIS(CP932) のどちらか一つで保存し直してください。"_s.arg(number)
                            .arg(names[kind])
                            .arg(firstLine)
                            .arg(names[first], (kind == Utf8 ? asUtf8 : asCp932).trimmed())};
        }
    }
    return {first == Utf8 ? text : decodeCp932(bytes), {}};
}

IniText readIniFile(const QString &startDir)
{
    QFile file(startDir + u"/setting.ini"_s);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return decodeIniText(file.readAll());
}

// A value between one pair of quotes, double or single, is read without them.
QString unquote(const QString &value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front()) {
        return value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

std::optional<QString> missingSettingFile(const QString &startDir)
{
    if (QFileInfo(QDir(startDir).filePath(u"setting.ini"_s)).isFile()) {
        return std::nullopt;
    }
    return u"設定ファイル setting.ini が見つかりません。\n探した場所: %1\n"
           u"setting.ini のあるフォルダで起動してください。"_s.arg(QDir::toNativeSeparators(startDir));
}

std::optional<QString> unreadableSettingFile(const QString &startDir)
{
    const QString problem = readIniFile(startDir).problem;
    return problem.isEmpty() ? std::nullopt : std::optional<QString>(problem);
}

QList<IniLine> ini_section(const QString &startDir, const QString &section)
{
    QList<IniLine> result;
    // Decoded before any parsing: a CP932 trail byte may be 0x5B "[" or 0x3D "=". A file that cannot be
    // read as one text gives nothing, never a value read wrong.
    const QStringList lines = readIniFile(startDir).text.split(u'\n');
    bool inSection = false;
    bool sectionSeen = false;
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QString line = trimBlanks(QString(lines.at(number)).remove(u'\r'));
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QString name = trimBlanks(line.mid(1, close < 0 ? -1 : close - 1));
            if (sectionSeen && inSection) {
                break; // only the first section of that name counts
            }
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection || line.isEmpty()) {
            continue;
        }
        IniLine entry{static_cast<int>(number + 1), line, false, QString(), QString()};
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0) {
            entry.hasValue = true;
            entry.key = trimBlanks(line.left(equals));
            entry.value = decodeCp932(cutValue(encodeCp932(unquote(trimBlanks(line.mid(equals + 1)))).bytes));
        }
        result.append(entry);
    }
    return result;
}

QString ini_read(const QString &startDir, const QString &section, const QString &key, const QString &defaultValue)
{
    for (const IniLine &line : ini_section(startDir, section)) {
        if (line.hasValue && line.key.compare(key, Qt::CaseInsensitive) == 0) {
            return line.value;
        }
    }
    return defaultValue;
}

Config ini_read_all(const QString &startDir)
{
    const auto read = [&](const QString &section, const QString &key) {
        return ini_read(startDir, section, key, QString());
    };
    Config c;
    c.PNM = read(u"PROJECT_NAME"_s, u"PNM"_s);
    c.SYSNM = read(u"PROJECT_NAME"_s, u"SYSNM"_s);
    c.TITLE = read(u"PROJECT_NAME"_s, u"TITLE"_s);
    c.SYS0 = read(u"DATABASE"_s, u"SYS0"_s);
    QString *const others[] = {&c.SYS1, &c.SYS2, &c.SYS3, &c.SYS4, &c.SYS5, &c.SYS6, &c.SYS7, &c.SYS8, &c.SYS9};
    for (int i = 0; i < 9; ++i) {
        *others[i] = read(u"DATABASE"_s, u"SYS"_s + QString::number(i + 1));
    }
    c.SVNM = read(u"SERVER"_s, u"SVNM"_s);
    c.CLNM = read(u"SERVER"_s, u"CLNM"_s);
    bool ok = false;
    const qint32 tax = read(u"TAX"_s, u"TAX"_s).toInt(&ok);
    c.TAX = ok ? tax : 0;
    c.MODE = read(u"MODE"_s, u"MODE"_s);
    c.TXTPATH = read(u"TEXTFILE"_s, u"TXTPATH"_s);
    c.POSTGRESQL.HOST = read(u"POSTGRESQL"_s, u"HOST"_s);
    c.POSTGRESQL.PORT = read(u"POSTGRESQL"_s, u"PORT"_s);
    c.POSTGRESQL.DBNAME = read(u"POSTGRESQL"_s, u"DBNAME"_s);
    c.POSTGRESQL.USER = read(u"POSTGRESQL"_s, u"USER"_s);
    c.POSTGRESQL.PASSWORD = read(u"POSTGRESQL"_s, u"PASSWORD"_s);
    c.POSTGRESQL.SSLMODE = read(u"POSTGRESQL"_s, u"SSLMODE"_s);
    c.POSTGRESQL.SSLROOTCERT = read(u"POSTGRESQL"_s, u"SSLROOTCERT"_s);
    c.CLOSED = ClosedDays::read(startDir);
    return c;
}

QString Config::databasePath() const
{
    return SVNM + u'/' + SYS0;
}

DbTarget Config::databaseTarget() const
{
    if (POSTGRESQL.HOST.isEmpty()) {
        QStringList missing;
        if (SYS0.isEmpty()) {
            missing << u"[DATABASE] の SYS0 (データベースファイルの名前)"_s;
        }
        if (SVNM.isEmpty()) {
            missing << u"[SERVER] の SVNM (データベースファイルのあるフォルダ)"_s;
        }
        if (!missing.isEmpty()) {
            throw DbError(u"setting.ini に次の設定がありません:\n"_s + missing.join(u'\n')
                          + u"\nsetting.ini に書いてください(PostgreSQL のときは [POSTGRESQL] の HOST など)。"_s);
        }
        return DbTarget::sqlite(databasePath());
    }
    PgServer server;
    server.host = POSTGRESQL.HOST;
    if (!POSTGRESQL.PORT.isEmpty()) {
        bool ok = false;
        server.port = POSTGRESQL.PORT.toInt(&ok);
        if (!ok || server.port < 1 || server.port > 65535) {
            throw DbError(u"setting.ini の [POSTGRESQL] PORT が正しくありません: %1\n"
                          u"1〜65535 の数字を書くか、空にしてください(既定 5432)。"_s.arg(POSTGRESQL.PORT));
        }
    }
    server.dbname = POSTGRESQL.DBNAME;
    server.user = POSTGRESQL.USER;
    server.password = POSTGRESQL.PASSWORD;
    server.sslmode = POSTGRESQL.SSLMODE;
    server.sslrootcert = POSTGRESQL.SSLROOTCERT;
    return DbTarget::server(server);
}

} // namespace qrb
