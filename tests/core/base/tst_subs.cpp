#include "base/FileError.h"
#include "base/Subs.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

class TestSubs : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    static QByteArray readAll(const QString &filePath)
    {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void writeFile(const QString &filePath, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(filePath).absolutePath());
        QFile file(filePath);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private slots:
    void initTestCase() { m_sandbox = std::make_unique<TestSandbox>(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>(m_sandbox->root() + QStringLiteral("/t-XXXXXX"));
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    void posFrom_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("expected");
        QTest::newRow("first") << 1 << "abcabc"
                               << "bc" << 2;
        QTest::newRow("at start") << 2 << "abcabc"
                                  << "bc" << 2;
        QTest::newRow("after first") << 3 << "abcabc"
                                     << "bc" << 5;
        QTest::newRow("none after start") << 6 << "abcabc"
                                          << "bc" << 0;
        QTest::newRow("last char") << 6 << "abcabc"
                                   << "c" << 6;
        QTest::newRow("not found") << 1 << "abc"
                                   << "x" << 0;
        QTest::newRow("search longer") << 1 << "ab"
                                       << "abc" << 0;
        QTest::newRow("start 0") << 0 << "abc"
                                 << "a" << 0;
        QTest::newRow("start negative") << -3 << "abc"
                                        << "a" << 0;
        QTest::newRow("start beyond") << 4 << "abc"
                                      << "a" << 0;
        QTest::newRow("empty text") << 1 << ""
                                    << "a" << 0;
        QTest::newRow("empty text empty search") << 1 << ""
                                                 << "" << 0;
        QTest::newRow("empty search") << 2 << "abc"
                                      << "" << 2;
        QTest::newRow("empty search last") << 3 << "abc"
                                           << "" << 3;
        QTest::newRow("empty search beyond") << 4 << "abc"
                                             << "" << 0;
        QTest::newRow("case sensitive") << 1 << "ABCabc"
                                        << "abc" << 4;
    }
    void posFrom()
    {
        QFETCH(int, start);
        QFETCH(QString, text);
        QFETCH(QString, search);
        QFETCH(int, expected);
        QCOMPARE(PosFrom(start, text, search), expected);
    }

    void replaceAll_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("expected");
        QTest::newRow("simple") << "a-b-c"
                                << "-"
                                << "+"
                                << "a+b+c";
        QTest::newRow("grows, not rescanned") << "aa"
                                              << "a"
                                              << "aa"
                                              << "aaaa";
        QTest::newRow("replacement contains search") << "x%y"
                                                     << "%"
                                                     << "%%"
                                                     << "x%%y";
        QTest::newRow("replacement forms new match") << "aab"
                                                     << "ab"
                                                     << "a"
                                                     << "aa";
        QTest::newRow("left to right, non-overlapping") << "aaa"
                                                        << "aa"
                                                        << "b"
                                                        << "ba";
        QTest::newRow("to empty") << "a b c"
                                  << " "
                                  << ""
                                  << "abc";
        QTest::newRow("none") << "abc"
                              << "x"
                              << "y"
                              << "abc";
        QTest::newRow("empty text") << ""
                                    << "x"
                                    << "y"
                                    << "";
        QTest::newRow("whole") << "abc"
                               << "abc"
                               << ""
                               << "";
        QTest::newRow("empty search left alone") << "abc"
                                                 << ""
                                                 << "x"
                                                 << "abc";
        QTest::newRow("CRLF") << "a\r\nb\r\n"
                              << "\r\n"
                              << "|"
                              << "a|b|";
    }
    void replaceAll()
    {
        QFETCH(QString, text);
        QFETCH(QString, search);
        QFETCH(QString, replacement);
        QFETCH(QString, expected);
        QCOMPARE(ReplaceAll(text, search, replacement), expected);
    }

    // The two splitters differ on purpose: SplitBySeparator keeps a trailing
    // empty piece and gives one piece for the empty text, SplitToList drops both.
    void splitters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("bySeparator");
        QTest::addColumn<QStringList>("toList");
        QTest::newRow("plain") << "a,b,c" << QStringList{"a", "b", "c"}
                               << QStringList{"a", "b", "c"};
        QTest::newRow("no separator") << "abc" << QStringList{"abc"} << QStringList{"abc"};
        QTest::newRow("adjacent") << "a,,b" << QStringList{"a", "", "b"}
                                  << QStringList{"a", "", "b"};
        QTest::newRow("leading") << ",a" << QStringList{"", "a"} << QStringList{"", "a"};
        QTest::newRow("trailing") << "a," << QStringList{"a", ""} << QStringList{"a"};
        QTest::newRow("two trailing") << "a,," << QStringList{"a", "", ""} << QStringList{"a", ""};
        QTest::newRow("only separator") << "," << QStringList{"", ""} << QStringList{""};
        QTest::newRow("empty text") << "" << QStringList{""} << QStringList{};
        QTest::newRow("blanks kept")
            << " a , b " << QStringList{" a ", " b "} << QStringList{" a ", " b "};
    }
    void splitters()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, bySeparator);
        QFETCH(QStringList, toList);

        const SplitPieces pieces = SplitBySeparator(text, QStringLiteral(","));
        QCOMPARE(pieces.pieces, bySeparator);
        QCOMPARE(pieces.count, bySeparator.size());

        QStringList list;
        SplitToList(text, QLatin1Char(','), list);
        QCOMPARE(list, toList);
    }

    void splitBySeparatorSpecial()
    {
        const SplitPieces empty = SplitBySeparator(QStringLiteral("a,b"), QString());
        QCOMPARE(empty.count, -1);
        QVERIFY(empty.pieces.isEmpty());

        const SplitPieces multi =
            SplitBySeparator(QStringLiteral("a<>b<><>c"), QStringLiteral("<>"));
        QCOMPARE(multi.pieces, (QStringList{"a", "b", "", "c"}));
        QCOMPARE(multi.count, 4);

        // No limit on the number of pieces.
        const SplitPieces many =
            SplitBySeparator(QString(999, QLatin1Char(' ')), QStringLiteral(" "));
        QCOMPARE(many.count, 1000);
    }

    void splitToListAppends()
    {
        QStringList list{"kept"};
        SplitToList(QStringLiteral("x;y"), QLatin1Char(';'), list);
        QCOMPARE(list, (QStringList{"kept", "x", "y"}));
    }

    void countAndLast_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("last");
        QTest::newRow("dots") << "1.2.3.4"
                              << "." << 3 << 6;
        QTest::newRow("none") << "abc"
                              << "." << 0 << 0;
        QTest::newRow("non-overlapping") << "aaaa"
                                         << "aa" << 2 << 3;
        QTest::newRow("odd run") << "aaa"
                                 << "aa" << 1 << 2;
        QTest::newRow("empty search") << "abc"
                                      << "" << 0 << 0;
        QTest::newRow("empty text") << ""
                                    << "a" << 0 << 0;
        QTest::newRow("key path") << "Software\\Kestrin\\Quellmark"
                                  << "\\" << 2 << 17;
        QTest::newRow("at end") << "a/b/"
                                << "/" << 2 << 4;
    }
    void countAndLast()
    {
        QFETCH(QString, text);
        QFETCH(QString, search);
        QFETCH(int, count);
        QFETCH(int, last);
        QCOMPARE(CountOccurrences(text, search), count);
        QCOMPARE(LastSeparatorPos(text, search), last);
    }

    void isDottedIPv4_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("plain") << "192.168.1.10" << true;
        QTest::newRow("zeros") << "0.0.0.0" << true;
        QTest::newRow("max") << "255.255.255.255" << true;
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("leading zero") << "010.1.1.1" << true;
        QTest::newRow("256") << "1.2.3.256" << false;
        QTest::newRow("999") << "999.1.1.1" << false;
        QTest::newRow("four digits") << "0001.1.1.1" << false;
        QTest::newRow("three pieces") << "1.2.3" << false;
        QTest::newRow("five pieces") << "1.2.3.4.5" << false;
        QTest::newRow("trailing dot") << "1.2.3.4." << false;
        QTest::newRow("empty piece") << "1..3.4" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("only dots") << "..." << false;
        QTest::newRow("minus") << "1.2.3.-4" << false;
        QTest::newRow("plus") << "+1.2.3.4" << false;
        QTest::newRow("blank inside") << "1.2. 3.4" << false;
        QTest::newRow("trailing blank") << "1.2.3.4 " << false;
        QTest::newRow("hex") << "0x1.2.3.4" << false;
        QTest::newRow("host name") << "www.example.co.uk" << false;
        QTest::newRow("numeric host with letters") << "1a.2.3.4" << false;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661.2.3.4") << false;
        QTest::newRow("IPv6") << "::1" << false;
    }
    void isDottedIPv4()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(IsDottedIPv4(text), expected);
    }

    void rightChars_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("part") << "abcdef" << 2 << "ef";
        QTest::newRow("exact") << "abc" << 3 << "abc";
        QTest::newRow("longer count") << "abc" << 10 << "abc";
        QTest::newRow("zero") << "abc" << 0 << "";
        QTest::newRow("negative") << "abc" << -1 << "";
        QTest::newRow("empty") << "" << 3 << "";
    }
    void rightChars()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(RightChars(text, count), expected);
    }

    void normalizeBlanks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("runs") << "HTTP   host    80"
                              << "HTTP host 80";
        QTest::newRow("tabs") << "HTTP\thost\t\t80"
                              << "HTTP host 80";
        QTest::newRow("mixed") << "a \t \tb"
                               << "a b";
        QTest::newRow("edges kept as one") << "  a  "
                                           << " a ";
        QTest::newRow("none") << "abc"
                              << "abc";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("only blanks") << " \t "
                                     << " ";
    }
    void normalizeBlanks()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(NormalizeBlanks(text), expected);
    }

    void trailingDelimiters_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("backslash");
        QTest::addColumn<QString>("slash");
        QTest::newRow("plain") << "a"
                               << "a\\"
                               << "a/";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("has backslash") << "a\\"
                                       << "a\\"
                                       << "a\\/";
        QTest::newRow("has slash") << "/tmp/"
                                   << "/tmp/\\"
                                   << "/tmp/";
        QTest::newRow("root") << "/"
                              << "/\\"
                              << "/";
    }
    void trailingDelimiters()
    {
        QFETCH(QString, path);
        QFETCH(QString, backslash);
        QFETCH(QString, slash);
        QCOMPARE(IncludeTrailingBackslash(path), backslash);
        QCOMPARE(IncludeTrailingPathDelimiter(path), slash);
    }

    void padding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::newRow("shorter") << "ab" << 5 << "   ab"
                                 << "ab...";
        QTest::newRow("exact") << "abc" << 3 << "abc"
                               << "abc";
        QTest::newRow("longer") << "abcdef" << 3 << "abcdef"
                                << "abc";
        QTest::newRow("empty") << "" << 2 << "  "
                               << "..";
        QTest::newRow("zero") << "ab" << 0 << "ab"
                              << "";
        QTest::newRow("negative") << "ab" << -2 << "ab"
                                  << "";
    }
    void padding()
    {
        QFETCH(QString, text);
        QFETCH(int, length);
        QFETCH(QString, left);
        QFETCH(QString, right);
        QCOMPARE(PadLeftBlanks(text, length), left);
        QCOMPARE(PadRightChar(text, QLatin1Char('.'), length), right);
    }

    void minutesSeconds_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("125") << qint64(125) << "2:05";
        QTest::newRow("0") << qint64(0) << "0:00";
        QTest::newRow("59") << qint64(59) << "0:59";
        QTest::newRow("60") << qint64(60) << "1:00";
        QTest::newRow("3600") << qint64(3600) << "60:00";
        QTest::newRow("no padding of minutes") << qint64(6000 * 60 + 7) << "6000:07";
        QTest::newRow("negative") << qint64(-125) << "-2:05";
        QTest::newRow("negative below a minute") << qint64(-5) << "-0:05";
        QTest::newRow("beyond 32 bits") << qint64(5000000000) << "83333333:20";
        QTest::newRow("most negative")
            << std::numeric_limits<qint64>::min() << "-153722867280912930:08";
    }
    void minutesSeconds()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, expected);
        QCOMPARE(MinutesSeconds(seconds), expected);
    }

    void stripExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name") << "OnError.txt"
                              << "OnError";
        QTest::newRow("full path") << "/home/u/email/OnError.txt"
                                   << "/home/u/email/OnError";
        QTest::newRow("two dots") << "a.tar.gz"
                                  << "a.tar";
        QTest::newRow("no extension") << "README"
                                      << "README";
        QTest::newRow("dotted folder") << "/home/u/my.folder/file"
                                       << "/home/u/my.folder/file";
        QTest::newRow("dotted folder with ext") << "/x.y/file.txt"
                                                << "/x.y/file";
        QTest::newRow("trailing slash") << "/x.y/"
                                        << "/x.y/";
        QTest::newRow("trailing dot") << "name."
                                      << "name";
        QTest::newRow("only extension") << "/dir/.txt"
                                        << "/dir/";
        QTest::newRow("empty") << ""
                               << "";
    }
    void stripExtension()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(StripExtension(path), expected);
    }

    void fileSizeOf()
    {
        writeFile(path("f.bin"), QByteArray(1234, 'x'));
        writeFile(path("empty"), QByteArray());
        QCOMPARE(FileSizeOf(path("f.bin")), qint64(1234));
        QCOMPARE(FileSizeOf(path("empty")), qint64(0));
        QCOMPARE(FileSizeOf(path("missing")), qint64(0));
        QCOMPARE(FileSizeOf(m_dir->path()), qint64(0)); // a folder is not a file
        QCOMPARE(FileSizeOf(QString()), qint64(0));
    }

    void appendLine()
    {
        const QString log = path("web(http).log");
        AppendLine(log, QStringLiteral("first"));
        AppendLine(log, QString());
        AppendLine(log, QString::fromUtf8("d\u00e9j\u00e0"));
        QCOMPARE(readAll(log), QByteArray("first\r\n\r\nd\xc3\xa9j\xc3\xa0\r\n"));

        // Errors are swallowed and nothing is created.
        const QString lost = path("no/such/folder/error.log");
        AppendLine(lost, QStringLiteral("lost"));
        QVERIFY(!QFile::exists(lost));
        AppendLine(m_dir->path(), QStringLiteral("a folder"));
        AppendLine(QString(), QStringLiteral("no name"));
    }

    // A writer killed in the middle of a line leaves it cut short; the next
    // line must not glue onto it.
    void appendLineAfterCutLine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("cut line") << QByteArray("08/12/2026 15:3")
                                  << QByteArray("08/12/2026 15:3\r\nnext\r\n");
        QTest::newRow("cut between CR and LF")
            << QByteArray("a\r\nb\r") << QByteArray("a\r\nb\r\r\nnext\r\n");
        QTest::newRow("whole lines") << QByteArray("a\r\n") << QByteArray("a\r\nnext\r\n");
        QTest::newRow("LF line end") << QByteArray("a\n") << QByteArray("a\nnext\r\n");
        QTest::newRow("empty file") << QByteArray() << QByteArray("next\r\n");
    }
    void appendLineAfterCutLine()
    {
        QFETCH(QByteArray, before);
        const QString log = path("cut(http).log");
        writeFile(log, before);
        AppendLine(log, QStringLiteral("next"));
        QTEST(readAll(log), "after");
    }

    void appendLineConcurrentWritersKeepWholeLines()
    {
        // Two writers appending long records at once: every line must come out whole.
        const QString log = path("shared.log");
        const int perWriter = 40;
        const QString a(60000, QLatin1Char('a'));
        const QString b(60000, QLatin1Char('b'));
        std::thread writerA([&] {
            for (int i = 0; i < perWriter; ++i)
                AppendLine(log, a);
        });
        std::thread writerB([&] {
            for (int i = 0; i < perWriter; ++i)
                AppendLine(log, b);
        });
        writerA.join();
        writerB.join();
        QList<QByteArray> lines = readAll(log).split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), 2 * perWriter);
        const QByteArray lineA = a.toLatin1() + '\r';
        const QByteArray lineB = b.toLatin1() + '\r';
        for (const QByteArray &line : lines)
            QVERIFY(line == lineA || line == lineB);
    }

    void writeNewTextFile()
    {
        const QString file = path("new.txt");
        WriteNewTextFile(file, QStringLiteral("header"));
        QCOMPARE(readAll(file), QByteArray("header\r\n"));
        writeFile(file, QByteArray(5000, 'z'));
        WriteNewTextFile(file, QStringLiteral("again"));
        QCOMPARE(readAll(file), QByteArray("again\r\n"));
    }

    void writeNewTextFileErrors_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing folder") << "missing/x.log";
        QTest::newRow("is a folder") << "folder";
    }
    void writeNewTextFileErrors()
    {
        QFETCH(QString, relative);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
        const QString target = path(relative);
        try {
            WriteNewTextFile(target, QStringLiteral("x"));
            QFAIL("no FileError thrown");
        } catch (const FileError &error) {
            QVERIFY2(error.message().startsWith(
                         QStringLiteral("Cannot create file \"%1\". ").arg(target)),
                     qPrintable(error.message()));
            // A reason follows the path.
            QVERIFY(error.message().size() > target.size() + 22);
            QCOMPARE(QString::fromUtf8(error.what()), error.message());
        }
    }

    void listSubfolders()
    {
        for (const char *name : {"beta", "Alpha", "alpha2", ".hidden", "with.dot"})
            QVERIFY(QDir(m_dir->path()).mkpath(QString::fromLatin1(name) + "/inner"));
        writeFile(path("file.txt"), "x");
        QVERIFY(QFile::link(path("file.txt"), path("link-to-file")));
        QVERIFY(QFile::link(path("gone"), path("dangling-link")));
        QVERIFY(QFile::link(path("beta"), path("link-to-folder")));

        QStringList list{"stale"};
        ListSubfolders(m_dir->path(), list);
        QCOMPARE(list,
                 (QStringList{".hidden", "Alpha", "alpha2", "beta", "link-to-folder", "with.dot"}));

        list = QStringList{"stale"};
        ListSubfolders(path("missing"), list);
        QVERIFY(list.isEmpty());

        // An unset folder must not list the current folder.
        list = QStringList{"stale"};
        ListSubfolders(QString(), list);
        QVERIFY(list.isEmpty());
    }

    void deleteFolderTree()
    {
        writeFile(path("tree/a/b/c.txt"), "c");
        writeFile(path("tree/.hidden"), "h");
        writeFile(path("outside/keep.txt"), "k");
        QVERIFY(QFile::link(path("outside"), path("tree/link")));

        QVERIFY(DeleteFolderTree(path("tree")));
        QVERIFY(!QFileInfo::exists(path("tree")));
        // A link inside is removed, not followed.
        QVERIFY(QFile::exists(path("outside/keep.txt")));

        QVERIFY(!DeleteFolderTree(path("tree")));
        QVERIFY(!DeleteFolderTree(path("outside/keep.txt")));
        QVERIFY(QFile::exists(path("outside/keep.txt")));
        QVERIFY(!DeleteFolderTree(QString()));
    }

    void copyFolderInto_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("plain") << "src/email";
        QTest::newRow("trailing slash") << "src/email/";
        QTest::newRow("trailing dot") << "src/email/.";
    }
    void copyFolderInto()
    {
        QFETCH(QString, source);
        writeFile(path("src/email/OnError.txt"), "new on");
        writeFile(path("src/email/sub/deep.txt"), "deep");
        writeFile(path("src/email/.hidden"), "hidden");
        writeFile(path("backup/email/OnError.txt"), "old on, longer than new");
        writeFile(path("backup/email/extra.txt"), "extra");

        QVERIFY(CopyFolderInto(path(source), path("backup")));
        QCOMPARE(readAll(path("backup/email/OnError.txt")), QByteArray("new on"));
        QCOMPARE(readAll(path("backup/email/sub/deep.txt")), QByteArray("deep"));
        QCOMPARE(readAll(path("backup/email/.hidden")), QByteArray("hidden"));
        // Merges: what only the destination has stays.
        QCOMPARE(readAll(path("backup/email/extra.txt")), QByteArray("extra"));
        // The source is untouched.
        QCOMPARE(readAll(path("src/email/OnError.txt")), QByteArray("new on"));
    }

    void copyFolderIntoMissingDestination()
    {
        writeFile(path("src/email/a.txt"), "a");
        QVERIFY(CopyFolderInto(path("src/email"), path("new/deeper")));
        QCOMPARE(readAll(path("new/deeper/email/a.txt")), QByteArray("a"));
    }

    void copyFolderIntoRefusals()
    {
        writeFile(path("src/email/a.txt"), "a");
        writeFile(path("plain.txt"), "p");
        QVERIFY(!CopyFolderInto(path("missing"), path("dest")));
        QVERIFY(!CopyFolderInto(path("plain.txt"), path("dest")));
        QVERIFY(!CopyFolderInto(QString(), path("dest")));
        QVERIFY(!CopyFolderInto(path("src/email"), QString()));
        // Into itself or below itself would never end.
        QVERIFY(!CopyFolderInto(path("src/email"), path("src/email")));
        QVERIFY(!CopyFolderInto(path("src/email"), path("src/email/sub")));
        // Onto itself.
        QVERIFY(!CopyFolderInto(path("src/email"), path("src")));
        QCOMPARE(QDir(path("src/email")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"a.txt"});
        // A sibling whose name starts the same is not inside.
        QVERIFY(CopyFolderInto(path("src/email"), path("src/email2")));
        QCOMPARE(readAll(path("src/email2/email/a.txt")), QByteArray("a"));
    }

    void copyFolderIntoKeepsLinks()
    {
        // A link pointing back up would make a followed copy recurse forever.
        writeFile(path("src/email/a.txt"), "a");
        QVERIFY(QFile::link(path("src"), path("src/email/up")));
        QVERIFY(CopyFolderInto(path("src/email"), path("dest")));
        QCOMPARE(QFileInfo(path("dest/email/up")).symLinkTarget(), path("src"));
    }
};

QTEST_GUILESS_MAIN(TestSubs)
#include "tst_subs.moc"
