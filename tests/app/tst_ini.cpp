#include "config/IniFile.h"
#include "shared/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class IniFileTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void writeIni(const QByteArray &bytes)
    {
        QFile file(m_dir.path() + u"/setting.ini"_s);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray cp932(const QString &text) { return encodeCp932(text).bytes; }

private slots:
    void profileSemantics_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QByteArray("[SERVER]\r\nSVNM=D:\\data\r\n") << u"SERVER"_s << u"SVNM"_s
                               << u"D:\\data"_s;
        QTest::newRow("case of section and key")
            << QByteArray("[server]\r\nsvnm=x\r\n") << u"SERVER"_s << u"SVNM"_s << u"x"_s;
        QTest::newRow("blanks trimmed") << QByteArray("[A]\r\n  K  =  v a l  \t\r\n") << u"A"_s << u"K"_s
                                        << u"v a l"_s;
        QTest::newRow("first key wins") << QByteArray("[A]\r\nK=1\r\nK=2\r\n") << u"A"_s << u"K"_s << u"1"_s;
        QTest::newRow("first section wins")
            << QByteArray("[A]\r\nX=0\r\n[B]\r\nK=b\r\n[A]\r\nK=2\r\n") << u"A"_s << u"K"_s << u"def"_s;
        QTest::newRow("key of another section")
            << QByteArray("[A]\r\nK=1\r\n[B]\r\nJ=2\r\n") << u"B"_s << u"K"_s << u"def"_s;
        QTest::newRow("missing section") << QByteArray("[A]\r\nK=1\r\n") << u"TEXTFILE"_s << u"TXTPATH"_s
                                         << u"def"_s;
        QTest::newRow("empty value is a value") << QByteArray("[A]\r\nK=\r\n") << u"A"_s << u"K"_s << QString();
        QTest::newRow("LF only") << QByteArray("[A]\nK=lf\n") << u"A"_s << u"K"_s << u"lf"_s;
        // 予 is 0x97 0x5C and 表 0x95 0x5C: a trail byte that is a backslash must not end anything.
        QTest::newRow("cp932 value") << cp932(u"[TEXTFILE]\r\nTXTPATH=C:\\予約表\\\r\n"_s) << u"TEXTFILE"_s
                                     << u"TXTPATH"_s << u"C:\\予約表\\"_s;
        QTest::newRow("utf-8 value") << u"[TEXTFILE]\r\nTXTPATH=/srv/予約表/\r\n"_s.toUtf8() << u"TEXTFILE"_s
                                     << u"TXTPATH"_s << u"/srv/予約表/"_s;
        QTest::newRow("utf-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBF") + u"[A]\r\nK=予約\r\n"_s.toUtf8() << u"A"_s << u"K"_s << u"予約"_s;
        QTest::newRow("one pair of quotes dropped")
            << QByteArray("[A]\r\nK = \"\"C:\\my docs\\ \"\"\r\n") << u"A"_s << u"K"_s << u"\"C:\\my docs\\ \""_s;
        QTest::newRow("single quotes dropped") << QByteArray("[A]\r\nK='a b'\r\n") << u"A"_s << u"K"_s << u"a b"_s;
        QTest::newRow("unpaired quote kept") << QByteArray("[A]\r\nK=\"ab\r\n") << u"A"_s << u"K"_s << u"\"ab"_s;
        // A value is cut at 255 bytes of CP932; a double-byte character that would end at byte 256 goes whole.
        const QString a(255, u'a');
        QTest::newRow("255 whole") << cp932(u"[A]\r\nK="_s + a + u"\r\n"_s) << u"A"_s << u"K"_s << a;
        QTest::newRow("256 cut") << cp932(u"[A]\r\nK="_s + a + u"b\r\n"_s) << u"A"_s << u"K"_s << a;
        QTest::newRow("double-byte at the cut") << cp932(u"[A]\r\nK="_s + a.left(254) + u"予約\r\n"_s) << u"A"_s
                                                << u"K"_s << a.left(254);
        QTest::newRow("double-byte ends at 255") << cp932(u"[A]\r\nK="_s + a.left(253) + u"予約\r\n"_s) << u"A"_s
                                                 << u"K"_s << a.left(253) + u"予"_s;
        QTest::newRow("comment is part of the value")
            << QByteArray("[A]\r\nK=x.db  ; the file\r\n") << u"A"_s << u"K"_s << u"x.db  ; the file"_s;
    }
    void profileSemantics()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeIni(file);
        QCOMPARE(ini_read(m_dir.path(), section, key, u"def"_s), expected);
    }

    void missingFileGivesDefaults()
    {
        QTemporaryDir empty;
        QCOMPARE(ini_read(empty.path(), u"A"_s, u"K"_s, u"def"_s), u"def"_s);
        // Start-up names what is missing and where it looked, rather than the database that follows.
        const std::optional<QString> missing = missingSettingFile(empty.path());
        QVERIFY(missing && missing->contains(u"setting.ini"_s) && missing->contains(empty.path()));
        writeIni("[A]\r\n");
        QVERIFY(!missingSettingFile(m_dir.path()));
        const Config config = ini_read_all(empty.path());
        QCOMPARE(config.SVNM, QString());
        QCOMPARE(config.TAX, 0);
    }

    void readAllTakesEveryKeyAndTheCurrentFolder()
    {
        writeIni(cp932(u"[PROJECT_NAME]\r\nPNM=インフル\r\n[DATABASE]\r\nSYS0=yoyaku.mdb\r\nSYS9=nine\r\n"
                       u"[SERVER]\r\nSVNM=/srv/qrb\r\n[TAX]\r\nTAX=8\r\n[TEXTFILE]\r\nTXTPATH=/srv/out/\r\n"_s));
        // Another folder with its own setting.ini: the program reads the one where it starts.
        QTemporaryDir other;
        QFile otherIni(other.path() + u"/setting.ini"_s);
        QVERIFY(otherIni.open(QIODevice::WriteOnly));
        otherIni.write("[DATABASE]\r\nSYS0=other.mdb\r\n[TAX]\r\nTAX=abc\r\n");
        otherIni.close();

        const Config config = ini_read_all(m_dir.path());
        QCOMPARE(config.PNM, u"インフル"_s);
        QCOMPARE(config.SYS0, u"yoyaku.mdb"_s);
        QCOMPARE(config.SYS9, u"nine"_s);
        QCOMPARE(config.TAX, 8);
        QCOMPARE(config.TXTPATH, u"/srv/out/"_s);
        QCOMPARE(config.databasePath(), u"/srv/qrb/yoyaku.mdb"_s);

        const Config otherConfig = ini_read_all(other.path());
        QCOMPARE(otherConfig.SYS0, u"other.mdb"_s);
        QCOMPARE(otherConfig.TAX, 0);
        QCOMPARE(otherConfig.TXTPATH, QString());
    }
};

QTEST_APPLESS_MAIN(IniFileTest)
#include "tst_ini.moc"
