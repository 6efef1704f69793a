#include "config/RegistryExport.h"
#include "config/RegistryStore.h"

#include "support/TestSandbox.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <memory>

// One line per key ("[path]") and per value ("path|name|TYPE|data"), keys
// breadth first from the top, so two stores compare as whole trees.
static QStringList dumpStore(const RegistryStore &store)
{
    QStringList lines;
    QStringList keys{QString()};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString key = keys.at(i);
        lines.append(QLatin1Char('[') + key + QLatin1Char(']'));
        for (const QString &name : store.valueNames(key)) {
            const RegValue v = store.value(key, name).value();
            QString data;
            QString type;
            if (v.isString()) {
                type = QStringLiteral("SZ");
                data = v.toString();
                data.replace(QLatin1Char('\r'), QLatin1String("\\r"));
                data.replace(QLatin1Char('\n'), QLatin1String("\\n"));
            } else if (v.type == RegType::DWord) {
                type = QStringLiteral("DWORD");
                data = QString::number(v.toDWord());
            } else {
                type = QStringLiteral("BIN");
                data = QString::fromLatin1(v.data.toHex());
            }
            lines.append(key + QLatin1Char('|') + name + QLatin1Char('|') + type +
                         QLatin1Char('|') + data);
        }
        for (const QString &sub : store.subkeyNames(key))
            keys.append(key.isEmpty() ? sub : key + QLatin1Char('\\') + sub);
    }
    return lines;
}

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

static void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

class TestRegistryExport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RegistryStore> m_store;

    QString filePath(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<RegistryStore> freshStore(const QString &name) const
    {
        return std::make_unique<RegistryStore>(filePath(name));
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_store = freshStore(QStringLiteral("source.sqlite"));
    }

    void cleanup()
    {
        RegistryStore::setCurrent(nullptr);
        m_store.reset();
        m_dir.reset();
        m_sandbox.reset();
    }

    void exportWritesExactTextBreadthFirst()
    {
        RegistryStore &s = *m_store;
        s.setValue(QStringLiteral("Software\\Test"), QStringLiteral("Name"),
                   RegValue::fromString(QStringLiteral("hello")));
        s.setValue(QStringLiteral("Software\\Test"), QStringLiteral("Count"),
                   RegValue::fromDWord(-1));
        s.setValue(QStringLiteral("Software\\Test"), QString(), RegValue::fromString(QString()));
        s.setValue(QStringLiteral("Software\\Test\\B"), QStringLiteral("Blob"),
                   RegValue::fromBinary(QByteArray::fromHex("00ab0f")));
        s.setValue(QStringLiteral("Software\\Test\\B"), QStringLiteral("Short"),
                   RegValue::fromBinary(QByteArray::fromHex("01")));
        s.createKey(QStringLiteral("Software\\Test\\a"));
        s.setValue(QStringLiteral("Software\\Test\\a\\x"), QStringLiteral("Multi"),
                   RegValue::fromString(QStringLiteral("l1\r\nl2")));
        s.setValue(QStringLiteral("Software\\Other"), QStringLiteral("Out"),
                   RegValue::fromString(QStringLiteral("not exported")));

        // Appends: what the file held stays in front.
        const QString path = filePath(QStringLiteral("out.cfg"));
        writeFile(path, "existing\r\n");
        const QStringList skipped =
            ExportRegistryKey(s, path, QStringLiteral("\\Software\\Test\\"));
        QVERIFY(skipped.isEmpty());

        const QByteArray expected = "existing\r\n"
                                    "[\\Software\\Test]\r\n"
                                    "Namestr=hello\r\n"
                                    "Countint=-1\r\n"
                                    "str=\r\n"
                                    "\r\n"
                                    "[\\Software\\Test\\a]\r\n"
                                    "\r\n"
                                    "[\\Software\\Test\\B]\r\n"
                                    "Blobbin=00AB0F\r\n"
                                    "Shortbin=01\r\n"
                                    "\r\n"
                                    "[\\Software\\Test\\a\\x]\r\n"
                                    "Multistr=l1qqqql2\r\n"
                                    "\r\n";
        QCOMPARE(readAll(path), expected);
    }

    void exportOfMissingKeyWritesOnlyTheEmptyLine()
    {
        const QString path = filePath(QStringLiteral("missing.cfg"));
        QVERIFY(ExportRegistryKey(*m_store, path, QStringLiteral("Software\\Nope")).isEmpty());
        QCOMPARE(readAll(path), QByteArray("\r\n"));
    }

    void roundTripRestoresEveryKind()
    {
        RegistryStore &s = *m_store;
        const QString root = QStringLiteral("Software\\Kestrin Software\\Quellmark");
        auto str = [&](const QString &key, const QString &name, const QString &text) {
            s.setValue(root + key, name, RegValue::fromString(text));
        };
        auto num = [&](const QString &key, const QString &name, qint32 n) {
            s.setValue(root + key, name, RegValue::fromDWord(n));
        };
        auto bin = [&](const QString &key, const QString &name, const QByteArray &b) {
            s.setValue(root + key, name, RegValue::fromBinary(b));
        };
        str(QString(), QStringLiteral("SmtpServer"), QStringLiteral("mailhost"));
        str(QString(), QStringLiteral("TwoLines"), QStringLiteral("first\r\nsecond"));
        str(QString(), QStringLiteral("Marker"), QStringLiteral("abcqqqqdef"));
        str(QString(), QStringLiteral("Blanks"), QStringLiteral("  padded  "));
        str(QString(), QStringLiteral("Unicode"), QStringLiteral("Grüße € ✓"));
        str(QString(), QStringLiteral("Brackets=?"), QStringLiteral("x")); // skipped
        str(QString(), QString(), QString());
        num(QString(), QStringLiteral("Minus"), -1);
        num(QString(), QStringLiteral("Min"), INT_MIN);
        num(QString(), QStringLiteral("Max"), INT_MAX);
        num(QString(), QStringLiteral("Zero"), 0);
        s.setValue(root, QStringLiteral("Path"),
                   RegValue{RegType::ExpandString, QByteArray("$HOME/x")});
        s.createKey(root + QStringLiteral("\\Services"));
        str(QStringLiteral("\\Services\\HTTP webhost 80"), QStringLiteral("Pattern"),
            QStringLiteral("Welcome"));
        bin(QStringLiteral("\\Services\\HTTP webhost 80"), QStringLiteral("Long"),
            QByteArray::fromHex("0102030405"));
        bin(QStringLiteral("\\Services\\HTTP webhost 80"), QStringLiteral("Short"),
            QByteArray::fromHex("ff00"));
        bin(QStringLiteral("\\Services\\HTTP webhost 80"), QStringLiteral("Empty"), QByteArray());
        s.createKey(root + QStringLiteral("\\Services\\FTP ftphost 21")); // no values at all
        QByteArray big(100000, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 7);
        bin(QStringLiteral("\\Deep\\Er\\Est"), QStringLiteral("Big"), big);

        QStringList expected = dumpStore(s);
        // What the format changes on the way: "qqqq" is a line break, an
        // expandable string comes back as a plain one, the name with "=" is lost.
        expected.replaceInStrings(QStringLiteral("abcqqqqdef"), QStringLiteral("abc\\r\\ndef"));
        expected.removeIf([](const QString &l) { return l.contains(QLatin1String("Brackets=?")); });

        const QString path = filePath(QStringLiteral("registry.cfg"));
        RegistryStore::setCurrent(&s);
        const QStringList skipped = ExportRegistryKey(path, root);
        QCOMPARE(skipped, QStringList{root + QStringLiteral("\\Brackets=?")});
        const QByteArray text = readAll(path);
        QVERIFY(text.contains("TwoLinesstr=firstqqqqsecond\r\n"));
        QVERIFY(text.contains("Longbin=0102030405\r\nShortbin=FF00\r\nEmptybin=\r\n"));

        std::unique_ptr<RegistryStore> target = freshStore(QStringLiteral("target.sqlite"));
        RegistryStore::setCurrent(target.get());
        ImportRegistryFile(path);
        QCOMPARE(dumpStore(*target), expected);
        QVERIFY(target->keyExists(root + QStringLiteral("\\Services\\FTP ftphost 21")));
    }

    void valuesTheFormatCannotCarryAreSkipped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("equals in name") << QStringLiteral("a=b") << QStringLiteral("x");
        QTest::newRow("CR in name") << QStringLiteral("a\rb") << QStringLiteral("x");
        QTest::newRow("LF in name") << QStringLiteral("a\nb") << QStringLiteral("x");
        QTest::newRow("name looks like header") << QStringLiteral("[x]") << QStringLiteral("x");
        QTest::newRow("lone CR") << QStringLiteral("v") << QStringLiteral("a\rb");
        QTest::newRow("lone LF") << QStringLiteral("v") << QStringLiteral("a\nb");
        QTest::newRow("CR LF then LF") << QStringLiteral("v") << QStringLiteral("a\r\n\nb");
        QTest::newRow("LF CR") << QStringLiteral("v") << QStringLiteral("a\n\rb");
    }

    void valuesTheFormatCannotCarryAreSkipped()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        m_store->setValue(QStringLiteral("K"), QStringLiteral("Before"), RegValue::fromDWord(1));
        m_store->setValue(QStringLiteral("K"), name, RegValue::fromString(text));
        m_store->setValue(QStringLiteral("K"), QStringLiteral("After"), RegValue::fromDWord(2));

        const QString path = filePath(QStringLiteral("skip.cfg"));
        const QStringList skipped = ExportRegistryKey(*m_store, path, QStringLiteral("K"));
        QCOMPARE(skipped, QStringList{QStringLiteral("K\\") + name});
        QCOMPARE(readAll(path), QByteArray("[\\K]\r\nBeforeint=1\r\nAfterint=2\r\n\r\n"));
    }

    void keyWithLineBreakIsSkippedWithItsSubtree()
    {
        m_store->setValue(QStringLiteral("K\\bad\nname\\below"), QStringLiteral("X"),
                          RegValue::fromDWord(1));
        m_store->setValue(QStringLiteral("K\\good"), QStringLiteral("Y"), RegValue::fromDWord(2));
        const QString path = filePath(QStringLiteral("skip.cfg"));
        QCOMPARE(ExportRegistryKey(*m_store, path, QStringLiteral("K")),
                 QStringList{QStringLiteral("K\\bad\nname")});
        QCOMPARE(readAll(path), QByteArray("[\\K]\r\n\r\n[\\K\\good]\r\nYint=2\r\n\r\n"));
    }

    void importFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");

        const QStringList q{QStringLiteral("[]"), QStringLiteral("[Software]"),
                            QStringLiteral("[Software\\Q]"), QStringLiteral("Software\\Q|A|SZ|1")};
        QTest::newRow("hive named")
            << QByteArray("[HKEY_CURRENT_USER\\Software\\Q]\r\nAstr=1\r\n") << q;
        QTest::newRow("hive left empty") << QByteArray("[\\Software\\Q]\r\nAstr=1\r\n") << q;
        QTest::newRow("hive in lower case")
            << QByteArray("[hkey_current_user\\Software\\Q]\nAstr=1\n") << q;
        QTest::newRow("path without leading backslash")
            << QByteArray("[Software\\Q]\nAstr=1\n") << q;
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF[\\Software\\Q]\nAstr=1\n") << q;
        QTest::newRow("hive alone is its top")
            << QByteArray("[HKEY_CURRENT_USER]\r\nAstr=1\r\n")
            << QStringList{QStringLiteral("[]"), QStringLiteral("|A|SZ|1")};
        QTest::newRow("value before any header")
            << QByteArray("Astr=1\r\n")
            << QStringList{QStringLiteral("[]"), QStringLiteral("|A|SZ|1")};

        QTest::newRow("other hives skipped")
            << QByteArray("[HKEY_LOCAL_MACHINE\\Software\\Q]\r\nXstr=1\r\n"
                          "[\\Software\\Q]\r\nYstr=2\r\n" // stays in the local machine hive
                          "[HKEY_NOWHERE\\Software\\Q]\r\nZstr=3\r\n"
                          "[\\Software\\Q]\r\nZstr=4\r\n" // still not accepting
                          "[HKEY_CURRENT_USER\\Software\\Q]\r\nAstr=1\r\n")
            << q;
        QTest::newRow("malformed header drops its lines")
            << QByteArray("[\\A]\nXstr=1\n[\\B\nYstr=2\n[\nWstr=0\n[\\C]\nZstr=3\n")
            << QStringList{QStringLiteral("[]"), QStringLiteral("[A]"), QStringLiteral("A|X|SZ|1"),
                           QStringLiteral("[C]"), QStringLiteral("C|Z|SZ|3")};
        QTest::newRow("malformed value lines")
            << QByteArray("[\\A]\nno equals\nab=1\n=x\nstr\n   \n\t\x01\nOKstr=y\n")
            << QStringList{QStringLiteral("[]"), QStringLiteral("[A]"),
                           QStringLiteral("A|OK|SZ|y")};
        QTest::newRow("mixed line ends")
            << QByteArray("[\\A]\rXstr=1\nYstr=2\r\n\r\nZstr=3")
            << QStringList{QStringLiteral("[]"), QStringLiteral("[A]"), QStringLiteral("A|X|SZ|1"),
                           QStringLiteral("A|Y|SZ|2"), QStringLiteral("A|Z|SZ|3")};
        QTest::newRow("hex forms")
            << QByteArray("[\\A]\nOddbin=ABC\nLowerbin=0aff\nBadbin=0G12\nTailbin=12Z\n"
                          "Otherxyz=01\nEmptybin=\nSpacebin=01 2\n")
            << QStringList{QStringLiteral("[]"),
                           QStringLiteral("[A]"),
                           QStringLiteral("A|Odd|BIN|ab"),
                           QStringLiteral("A|Lower|BIN|0aff"),
                           QStringLiteral("A|Tail|BIN|12"),
                           QStringLiteral("A|Other|BIN|01"),
                           QStringLiteral("A|Empty|BIN|")};
        QTest::newRow("integers and strings")
            << QByteArray("[\\A]\nMinint=-2147483648\nMaxint=2147483647\nPlusint=+7\n"
                          "str=def\nmy namestr= x y \nBreaksstr=aqqqqbqqqq\nEqstr=a=b\n")
            << QStringList{QStringLiteral("[]"),
                           QStringLiteral("[A]"),
                           QStringLiteral("A|Min|DWORD|-2147483648"),
                           QStringLiteral("A|Max|DWORD|2147483647"),
                           QStringLiteral("A|Plus|DWORD|7"),
                           QStringLiteral("A||SZ|def"),
                           QStringLiteral("A|my name|SZ| x y "),
                           QStringLiteral("A|Breaks|SZ|a\\r\\nb\\r\\n"),
                           QStringLiteral("A|Eq|SZ|a=b")};
        QTest::newRow("later line replaces, type may change")
            << QByteArray("[\\A]\nVstr=1\n[\\a]\nvint=2\n")
            << QStringList{QStringLiteral("[]"), QStringLiteral("[A]"),
                           QStringLiteral("A|V|DWORD|2")};
        QTest::newRow("header alone keeps an empty key")
            << QByteArray("[\\A\\Empty]\r\n\r\n")
            << QStringList{QStringLiteral("[]"), QStringLiteral("[A]"),
                           QStringLiteral("[A\\Empty]")};
    }

    void importFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        const QString path = filePath(QStringLiteral("in.cfg"));
        writeFile(path, file);
        ImportRegistryFile(*m_store, path);
        QCOMPARE(dumpStore(*m_store), expected);

        // A second import of the same file changes nothing.
        ImportRegistryFile(*m_store, path);
        QCOMPARE(dumpStore(*m_store), expected);
    }

    void importKeepsWhatTheFileDoesNotName()
    {
        m_store->setValue(QStringLiteral("A"), QStringLiteral("Old"), RegValue::fromDWord(5));
        m_store->setValue(QStringLiteral("B"), QStringLiteral("Other"), RegValue::fromDWord(6));
        const QString path = filePath(QStringLiteral("in.cfg"));
        writeFile(path, "[\\A]\r\nNewstr=x\r\n");
        ImportRegistryFile(*m_store, path);
        QCOMPARE(dumpStore(*m_store),
                 (QStringList{QStringLiteral("[]"), QStringLiteral("[A]"),
                              QStringLiteral("A|Old|DWORD|5"), QStringLiteral("A|New|SZ|x"),
                              QStringLiteral("[B]"), QStringLiteral("B|Other|DWORD|6")}));
    }

    void badIntegerStopsTheImport_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letters") << QByteArray("12x") << QStringLiteral("12x");
        QTest::newRow("empty") << QByteArray("") << QString();
        QTest::newRow("sign only") << QByteArray("-") << QStringLiteral("-");
        QTest::newRow("too large") << QByteArray("2147483648") << QStringLiteral("2147483648");
        QTest::newRow("too small") << QByteArray("-2147483649") << QStringLiteral("-2147483649");
        QTest::newRow("blank") << QByteArray(" 5") << QStringLiteral(" 5");
        QTest::newRow("hex") << QByteArray("0x10") << QStringLiteral("0x10");
        QTest::newRow("line break mark") << QByteArray("5qqqq") << QStringLiteral("5\r\n");
    }

    void badIntegerStopsTheImport()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, shown);
        const QString path = filePath(QStringLiteral("in.cfg"));
        writeFile(path, "[\\A]\r\nBeforestr=1\r\nNint=" + data + "\r\nAfterstr=2\r\n[\\B]\r\n");
        try {
            ImportRegistryFile(*m_store, path);
            QFAIL("no error");
        } catch (const RegistryError &e) {
            QCOMPARE(e.message(), QLatin1Char('\'') + shown + "' is not a valid integer value");
        }
        QCOMPARE(dumpStore(*m_store), (QStringList{QStringLiteral("[]"), QStringLiteral("[A]"),
                                                   QStringLiteral("A|Before|SZ|1")}));
    }

    void missingFileDoesNothing()
    {
        ImportRegistryFile(*m_store, filePath(QStringLiteral("nothing.cfg")));
        QCOMPARE(dumpStore(*m_store), QStringList{QStringLiteral("[]")});
    }

    void oversizedFileIsRefusedBeforeWriting()
    {
        const QString path = filePath(QStringLiteral("huge.cfg"));
        writeFile(path, "[\\A]\r\nXstr=1\r\n");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(RegistryImportMaxBytes + 1)); // sparse, cheap
        }
        QVERIFY_THROWS_EXCEPTION(RegistryError, ImportRegistryFile(*m_store, path));
        QCOMPARE(dumpStore(*m_store), QStringList{QStringLiteral("[]")});
    }

    void overloadsNeedACurrentStore()
    {
        RegistryStore::setCurrent(nullptr);
        const QString path = filePath(QStringLiteral("in.cfg"));
        writeFile(path, "[\\A]\r\nXstr=1\r\n");
        QVERIFY_THROWS_EXCEPTION(RegistryError, ImportRegistryFile(path));
        QVERIFY_THROWS_EXCEPTION(RegistryError, ExportRegistryKey(path, QStringLiteral("A")));
    }
};

QTEST_GUILESS_MAIN(TestRegistryExport)
#include "tst_registryexport.moc"
