// The template folder without widgets: listing, the default names, reading
// and writing a template as the composer's four fields, name checks, and
// how writing fails.

#include "alerts/MessageTemplate.h"
#include "alerts/TemplateFolder.h"
#include "base/FileError.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TemplateFields)

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const FileError &error) {
        return error.message();
    }
    return QString();
}

const QByteArray Header = "To: ops@x.test\r\nFrom: alerts@x.test\r\nSubject: down\r\n\r\n";

} // namespace

class TestTemplateFolder : public QObject {
    Q_OBJECT
private slots:
    void listing_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("offered");
        const QStringList defaults = {"OffError_Default", "OnError_Default"};

        QTest::newRow("empty folder offers the defaults, sorted")
            << QStringList{} << QStringList{} << defaults;
        QTest::newRow("other files only")
            << QStringList{"notes.doc", "x.txt.bak", "y.TXT"} << QStringList{} << defaults;
        QTest::newRow("sorted without case, hidden included")
            << QStringList{"b.txt", "a.txt", "A.txt", ".hidden.txt", "Zulu.txt", "a b.txt"}
            << QStringList{".hidden", "A", "a", "a b", "b", "Zulu"}
            << QStringList{".hidden", "A", "a", "a b", "b", "Zulu"};
        QTest::newRow("one template, no defaults added")
            << QStringList{"OnError_Mine.txt"} << QStringList{"OnError_Mine"}
            << QStringList{"OnError_Mine"};
        QTest::newRow("only the last extension goes")
            << QStringList{"v1.2.txt", ".txt"} << QStringList{"v1.2"} << QStringList{"v1.2"};
    }
    void listing()
    {
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        const TemplateFolder folder(TemplateFolder::folderIn(dir.path() + "/prog"));
        QVERIFY(folder.create());
        for (const QString &file : files)
            writeFile(folder.folder() + '/' + file, "x\r\n");
        // A folder that looks like a template is not one.
        QVERIFY(QDir().mkpath(folder.folder() + "/folder.txt"));
        QTEST(folder.names(), "names");
        QTEST(folder.namesOrDefaults(), "offered");
    }

    void folderPaths()
    {
        QCOMPARE(TemplateFolder::folderIn("/p/quellmark"), QString("/p/quellmark/email"));
        QCOMPARE(TemplateFolder::folderIn("/p/quellmark/"), QString("/p/quellmark/email"));
        QCOMPARE(TemplateFolder("/p/email").pathOf("OnError"), QString("/p/email/OnError.txt"));
        QCOMPARE(TemplateFolder("/p/email").pathOf(""), QString());
        QCOMPARE(TemplateFolder().names(), QStringList());
        QVERIFY(!TemplateFolder().create());
    }

    // Bytes a composer writes come back unchanged through read and write.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain") << Header + "Line 1\r\n{SiteURL} is down\r\n";
        QTest::newRow("empty body") << Header;
        QTest::newRow("body of one empty line") << Header + "\r\n";
        QTest::newRow("body ending in empty lines") << Header + "x\r\n\r\n\r\n";
        QTest::newRow("empty lines inside") << Header + "\r\na\r\n\r\nb\r\n";
        QTest::newRow("empty header fields")
            << QByteArray("To: \r\nFrom: \r\nSubject: \r\n\r\nb\r\n");
        QTest::newRow("latin-1 and broken UTF-8")
            << QByteArray("To: caf\xe9\r\nFrom: \xff\xfe\r\nSubject: \xc0\xaf \xed\xa0\x80 \xe2\x82"
                          "\r\n\r\n\x80\x81 \xf4\x90\x80\x80 \xf0\x9f\x98\r\n\xfe\r\n");
        QTest::newRow("UTF-8 an editor would change")
            << Header + "no\xc2\xa0"
                        "break \xe2\x80\xa8 line \xe2\x80\xa9 para \xef\xb7\x90\xef\xb7\x91 "
                        "\xf0\x9f\x98\x80\r\n";
        QTest::newRow("NUL, tab and control bytes")
            << Header + QByteArray("a\0b\tc\x01\x7f", 7) + "\r\n\t indented\r\n";
    }
    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(TemplateFileBytes(TemplateFieldsFromLines(SplitTextLines(bytes))), bytes);

        QTemporaryDir dir;
        const QString path = dir.filePath("t.txt");
        writeFile(path, bytes);
        const TemplateFields fields = ReadTemplateFields(path);
        WriteTemplateFields(path, fields);
        QCOMPARE(readFile(path), bytes);
    }

    // Any bytes survive the text the widgets hold.
    void textCodecKeepsEveryByte()
    {
        QRandomGenerator random(20260808);
        for (int round = 0; round < 2000; ++round) {
            QByteArray bytes(random.bounded(40), Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            const QString text = DecodeTemplateText(bytes);
            QCOMPARE(EncodeTemplateText(text), bytes);
            QVERIFY(!text.contains(QChar::ParagraphSeparator));
        }
        QCOMPARE(DecodeTemplateText("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
        QCOMPARE(DecodeTemplateText("\xe9"), QString(QChar(0xDCE9)));
    }

    // Files from elsewhere, and what the composer makes of them.
    void readAndWrite_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<TemplateFields>("fields");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("no final line break")
            << Header + "body" << TemplateFields{"ops@x.test", "alerts@x.test", "down", "body\n"}
            << Header + "body\r\n";
        QTest::newRow("LF and lone CR line ends")
            << QByteArray("To: a\nFrom: b\rSubject: c\n\nx\ry\n")
            << TemplateFields{"a", "b", "c", "x\ny\n"}
            << QByteArray("To: a\r\nFrom: b\r\nSubject: c\r\n\r\nx\r\ny\r\n");
        QTest::newRow("prefixes are skipped, not compared")
            << QByteArray("To:a\r\nFROM:b\r\nXXXXXXXXsubj\r\n\r\n")
            << TemplateFields{"a", "b", "subj", ""}
            << QByteArray("To: a\r\nFrom: b\r\nSubject: subj\r\n\r\n");
        QTest::newRow("blanks and control characters trimmed")
            << QByteArray("To: \t a b \x01\r\nFrom:   \r\nSubject: s\t\r\n\r\n")
            << TemplateFields{"a b", "", "s", ""}
            << QByteArray("To: a b\r\nFrom: \r\nSubject: s\r\n\r\n");
        QTest::newRow("extra header lines dropped")
            << QByteArray("To: a\r\nFrom: b\r\nSubject: c\r\nDate: x\r\nX-A: y\r\n\r\nbody\r\n")
            << TemplateFields{"a", "b", "c", "body\n"}
            << QByteArray("To: a\r\nFrom: b\r\nSubject: c\r\n\r\nbody\r\n");
        QTest::newRow("empty second line starts the body")
            << QByteArray("To: a\r\n\r\nbody\r\n") << TemplateFields{"a", "", "", "body\n"}
            << QByteArray("To: a\r\nFrom: \r\nSubject: \r\n\r\nbody\r\n");
        QTest::newRow("empty first line is To, not the separator")
            << QByteArray("\r\nFrom: b\r\nSubject: c\r\n\r\nbody\r\n")
            << TemplateFields{"", "b", "c", "body\n"}
            << QByteArray("To: \r\nFrom: b\r\nSubject: c\r\n\r\nbody\r\n");
        QTest::newRow("one line only") << QByteArray("To: a") << TemplateFields{"a", "", "", ""}
                                       << QByteArray("To: a\r\nFrom: \r\nSubject: \r\n\r\n");
        QTest::newRow("no empty line: no body")
            << QByteArray("To: a\r\nFrom: b\r\nSubject: c\r\nbody\r\n")
            << TemplateFields{"a", "b", "c", ""}
            << QByteArray("To: a\r\nFrom: b\r\nSubject: c\r\n\r\n");
        QTest::newRow("empty file") << QByteArray() << TemplateFields{}
                                    << QByteArray("To: \r\nFrom: \r\nSubject: \r\n\r\n");
    }
    void readAndWrite()
    {
        QFETCH(QByteArray, file);
        QFETCH(TemplateFields, fields);
        QTemporaryDir dir;
        const QString path = dir.filePath("t.txt");
        writeFile(path, file);
        const TemplateFields read = ReadTemplateFields(path);
        QCOMPARE(read.to, fields.to);
        QCOMPARE(read.from, fields.from);
        QCOMPARE(read.subject, fields.subject);
        QCOMPARE(read.body, fields.body);
        WriteTemplateFields(path, read);
        QTEST(readFile(path), "written");
    }

    // What the editor holds and the bytes written for it.
    void fieldsToBytes_data()
    {
        QTest::addColumn<TemplateFields>("fields");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray head = "To: t\r\nFrom: f\r\nSubject: s\r\n\r\n";
        QTest::newRow("body without final break")
            << TemplateFields{"t", "f", "s", "x"} << head + "x\r\n";
        QTest::newRow("its final break is the file's")
            << TemplateFields{"t", "f", "s", "x\n"} << head + "x\r\n";
        QTest::newRow("only one final break dropped")
            << TemplateFields{"t", "f", "s", "x\n\n"} << head + "x\r\n\r\n";
        QTest::newRow("empty body") << TemplateFields{"t", "f", "s", ""} << head;
        QTest::newRow("CR LF and CR in the body")
            << TemplateFields{"t", "f", "s", "a\r\nb\rc"} << head + "a\r\nb\r\nc\r\n";
        QTest::newRow("header fields are one trimmed line")
            << TemplateFields{" t ", "f\r\nBcc: x", "s\n\nbody", ""}
            << QByteArray("To: t\r\nFrom: f  Bcc: x\r\nSubject: s  body\r\n\r\n");
        QTest::newRow("non-ASCII")
            << TemplateFields{QString::fromUtf8("J\xc3\xbcrgen"), "f", "s", ""}
            << QByteArray("To: J\xc3\xbcrgen\r\nFrom: f\r\nSubject: s\r\n\r\n");
    }
    void fieldsToBytes()
    {
        QFETCH(TemplateFields, fields);
        QTEST(TemplateFileBytes(fields), "bytes");
    }

    void nameChecks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");
        const QString chars = "A message name cannot contain / \\ : * ? \" < > | or control "
                              "characters. Please enter another name.";
        const QString dots =
            "\".\" and \"..\" cannot be used as a message name. Please enter another name.";
        QTest::newRow("plain") << QString("OnError_Web") << QString();
        QTest::newRow("blanks, dots, non-ASCII")
            << QString::fromUtf8("Ausfall .. M\xc3\xbcnchen.v2") << QString();
        QTest::newRow("hidden name") << QString(".quiet") << QString();
        QTest::newRow("empty") << QString() << QString("Please enter a name.");
        QTest::newRow("existing, other case")
            << QString("onerror_default")
            << QString("The name already exists. Please select a new one.");
        QTest::newRow("dot") << QString(".") << dots;
        QTest::newRow("dot dot") << QString("..") << dots;
        QTest::newRow("slash") << QString("../escape") << chars;
        QTest::newRow("backslash") << QString("a\\b") << chars;
        for (const char *c : {":", "*", "?", "\"", "<", ">", "|"})
            QTest::newRow(qPrintable(QStringLiteral("character %1").arg(QLatin1String(c))))
                << QStringLiteral("a%1b").arg(QLatin1String(c)) << chars;
        QTest::newRow("NUL") << QString(QString("a") + QChar(0) + "b") << chars;
        QTest::newRow("line feed") << QString("a\nb") << chars;
        QTest::newRow("tab") << QString("a\tb") << chars;
        QTest::newRow("DEL") << QString("a\x7f") << chars;
        QTest::newRow("C1 control") << QString(QString("a") + QChar(0x85)) << chars;
        QTest::newRow("lone surrogate") << QString(QString("a") + QChar(0xD800)) << chars;
        QTest::newRow("longest that fits") << QString(251, 'n') << QString();
        QTest::newRow("too long for a file name")
            << QString(252, 'n') << QString("The name is too long. Please enter a shorter one.");
        QTest::newRow("too long in bytes")
            << QString(126, QChar(0xE9))
            << QString("The name is too long. Please enter a shorter one.");
    }
    void nameChecks()
    {
        QFETCH(QString, name);
        QTEST(TemplateFolder::newNameProblem(name, {"OffError_Default", "OnError_Default"}),
              "problem");
    }

    void sortingIsStable()
    {
        QStringList names = {"b", "B", "a", "A", "_x", "10", "9"};
        TemplateFolder::sortNames(names);
        QCOMPARE(names, QStringList({"10", "9", "_x", "A", "a", "B", "b"}));
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder missing") << QString("missing") << QString("Invalid filename");
        QTest::newRow("name is a folder") << QString("folder") << QString("Invalid filename");
        QTest::newRow("disk full") << QString("full") << QString("Disk full");
        QTest::newRow("read-only file") << QString("readonly") << QString("File access denied");
    }
    void writeFailures()
    {
        QFETCH(QString, setup);
        QTemporaryDir dir;
        QString path = dir.filePath("t.txt");
        if (setup == "missing") {
            path = dir.filePath("gone/t.txt");
        } else if (setup == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (setup == "full") {
            if (!QFile::exists("/dev/full"))
                QSKIP("no /dev/full");
            QVERIFY(QFile::link("/dev/full", path));
        } else if (setup == "readonly") {
            if (geteuid() == 0)
                QSKIP("permissions do not bind root");
            writeFile(path, "old\r\n");
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        }
        QTEST(errorOf([&] {
                  WriteTemplateFields(path, TemplateFields{"a", "b", "c", "d"});
              }),
              "message");
        if (setup == "readonly")
            QCOMPARE(readFile(path), QByteArray("old\r\n"));
        // Nothing is left behind in the folder but what was there.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 setup == "readonly" || setup == "full" ? 1 : 0);
    }

    void replacingKeepsPermissionsAndLinks()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.txt");
        writeFile(path, "old\r\n");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        WriteTemplateFile(path, "new\r\n");
        QCOMPARE(readFile(path), QByteArray("new\r\n"));
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(int(status.st_mode & 07777), 0640);

        // A template kept elsewhere through a link stays linked.
        const QString target = dir.filePath("real.data");
        writeFile(target, "old\r\n");
        const QString link = dir.filePath("linked.txt");
        QVERIFY(QFile::link(target, link));
        WriteTemplateFile(link, "new\r\n");
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(target), QByteArray("new\r\n"));

        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    // A new template is written aside and renamed into place, so a crash
    // never leaves it cut short; it still gets the permissions of any new
    // file, and nothing else stays in the folder.
    void newTemplateAppearsWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("new.txt");
        const mode_t old = ::umask(027);
        WriteTemplateFile(path, "new\r\n");
        ::umask(old);
        QCOMPARE(readFile(path), QByteArray("new\r\n"));
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(int(status.st_mode & 07777), 0640);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("new.txt")});
    }

    // What could not be read back is not written; what is too big is not read.
    void sizeBounds()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.txt");
        writeFile(path, Header);
        const TemplateFields huge{"a", "b", "c", QString(MaxTemplateSize, 'x')};
        QVERIFY(errorOf([&] { WriteTemplateFields(path, huge); }).contains("larger than"));
        QCOMPARE(readFile(path), Header);

        writeFile(path, Header + QByteArray(MaxTemplateSize, 'x'));
        QVERIFY(errorOf([&] {
                    ReadTemplateFields(path);
                }).startsWith(QStringLiteral("Cannot open file \"%1\".").arg(path)));

        const TemplateFields largest{"a", "b", "c", QString(MaxTemplateSize - 40, 'x')};
        WriteTemplateFields(path, largest);
        QCOMPARE(ReadTemplateFields(path).body.size(), MaxTemplateSize - 40 + 1);
    }
};

QTEST_GUILESS_MAIN(TestTemplateFolder)
#include "tst_templatefolder.moc"
