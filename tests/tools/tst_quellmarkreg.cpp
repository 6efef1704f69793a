#include "support/StoreDamage.h"
#include "support/TestSandbox.h"

#include "config/LastGoodCopy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <memory>

// Runs the real quellmark-reg; the child inherits the sandbox's XDG folders,
// so it works on the sandbox's store.
class TestQuellmarkReg : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_tool;

    struct Result {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    Result run(const QStringList &args) const
    {
        QProcess process;
        process.start(m_tool, args);
        Result result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    // Runs a command that must succeed and returns its output.
    QByteArray ok(const QStringList &args) const
    {
        const Result r = run(args);
        if (r.exitCode != 0)
            qWarning() << args << r.exitCode << r.err;
        return r.exitCode == 0 ? r.out : QByteArray("<failed>");
    }

private slots:
    void initTestCase()
    {
        m_tool = qEnvironmentVariable("QUELLMARK_REG");
        if (m_tool.isEmpty() || !QFile::exists(m_tool))
            QSKIP("QUELLMARK_REG does not name the tool");
    }

    void init() { m_sandbox = std::make_unique<TestSandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void setThenGet_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("string") << "str"
                                << "hello world" << QByteArray("hello world\n");
        QTest::newRow("empty string") << "str"
                                      << "" << QByteArray("\n");
        QTest::newRow("unicode string") << "str"
                                        << "Grüße €" << QByteArray("Grüße €\n");
        QTest::newRow("two-line string") << "str"
                                         << "a\r\nb" << QByteArray("a\r\nb\n");
        QTest::newRow("minus one") << "int"
                                   << "-1" << QByteArray("-1\n");
        QTest::newRow("int max") << "int"
                                 << "2147483647" << QByteArray("2147483647\n");
        QTest::newRow("int min") << "int"
                                 << "-2147483648" << QByteArray("-2147483648\n");
        QTest::newRow("binary") << "bin"
                                << "00ab0F" << QByteArray("00AB0F\n");
        QTest::newRow("empty binary") << "bin"
                                      << "" << QByteArray("\n");
    }

    void setThenGet()
    {
        QFETCH(QString, type);
        QFETCH(QString, data);
        QFETCH(QByteArray, printed);
        const QString key = QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services");
        QCOMPARE(ok({"set", key, "Value", type, data}), QByteArray());
        QCOMPARE(ok({"get", key, "Value"}), printed);
        QCOMPARE(ok({"get", key.toUpper(), "VALUE"}), printed); // names ignore case
    }

    void defaultValueHasTheEmptyName()
    {
        QCOMPARE(ok({"set", "A", "", "str", "dflt"}), QByteArray());
        QCOMPARE(ok({"get", "A", ""}), QByteArray("dflt\n"));
        QCOMPARE(ok({"list", "A"}), QByteArray("(Default)  REG_SZ  dflt\n"));
    }

    void listShowsSubkeysThenValues()
    {
        ok({"set", "A\\c\\deep", "X", "int", "1"});
        ok({"set", "A\\B", "X", "int", "1"});
        ok({"set", "A", "Text", "str", "a\r\nb"});
        ok({"set", "A", "Num", "int", "-5"});
        ok({"set", "A", "Blob", "bin", "0102"});
        QCOMPARE(ok({"list", "A"}), QByteArray("[B]\n"
                                               "[c]\n"
                                               "Text  REG_SZ  a\\r\\nb\n"
                                               "Num  REG_DWORD  -5\n"
                                               "Blob  REG_BINARY  0102\n"));
        QCOMPARE(ok({"list", "\\A\\c"}), QByteArray("[deep]\n"));
    }

    void deleteValueAndKey()
    {
        ok({"set", "A\\B", "X", "int", "1"});
        ok({"set", "A", "Y", "int", "2"});
        QCOMPARE(ok({"delete", "A", "Y"}), QByteArray());
        QCOMPARE(run({"get", "A", "Y"}).exitCode, 1);
        QCOMPARE(ok({"list", "A"}), QByteArray("[B]\n"));
        QCOMPARE(ok({"delete", "A"}), QByteArray());
        QCOMPARE(run({"list", "A"}).exitCode, 1);
        QCOMPARE(run({"list", "A\\B"}).exitCode, 1);
    }

    void exportThenImport()
    {
        ok({"set", "Q", "Name", "str", "two\r\nlines"});
        ok({"set", "Q", "Count", "int", "-1"});
        ok({"set", "Q\\S", "Blob", "bin", "0a0b"});
        ok({"set", "Q", "Bad", "str", "lone\nbreak"});
        const QString file = m_sandbox->root() + QStringLiteral("/out.cfg");

        const Result exported = run({"export", "Q", file});
        QCOMPARE(exported.exitCode, 0);
        QVERIFY2(exported.err.contains("Q\\Bad"), exported.err.constData()); // warned, not fatal
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[\\Q]\r\n"
                                         "Namestr=twoqqqqlines\r\n"
                                         "Countint=-1\r\n"
                                         "\r\n"
                                         "[\\Q\\S]\r\n"
                                         "Blobbin=0A0B\r\n"
                                         "\r\n"));

        ok({"delete", "Q"});
        QCOMPARE(ok({"import", file}), QByteArray());
        QCOMPARE(ok({"get", "Q", "Name"}), QByteArray("two\r\nlines\n"));
        QCOMPARE(ok({"get", "Q", "Count"}), QByteArray("-1\n"));
        QCOMPARE(ok({"get", "Q\\S", "Blob"}), QByteArray("0A0B\n"));
        QCOMPARE(run({"get", "Q", "Bad"}).exitCode, 1);
    }

    void errorsExitWithOne_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no arguments") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"frobnicate", "A"};
        QTest::newRow("too few arguments") << QStringList{"get", "A"};
        QTest::newRow("too many arguments") << QStringList{"list", "A", "B"};
        QTest::newRow("list missing key") << QStringList{"list", "Nope"};
        QTest::newRow("get missing key") << QStringList{"get", "Nope", "X"};
        QTest::newRow("get missing value") << QStringList{"get", "A", "Missing"};
        QTest::newRow("get missing default") << QStringList{"get", "A", ""};
        QTest::newRow("int with letters") << QStringList{"set", "A", "N", "int", "12x"};
        QTest::newRow("int too large") << QStringList{"set", "A", "N", "int", "2147483648"};
        QTest::newRow("int empty") << QStringList{"set", "A", "N", "int", ""};
        QTest::newRow("odd hex") << QStringList{"set", "A", "N", "bin", "ABC"};
        QTest::newRow("bad hex") << QStringList{"set", "A", "N", "bin", "zz"};
        QTest::newRow("unknown type") << QStringList{"set", "A", "N", "dword", "1"};
        QTest::newRow("delete missing value") << QStringList{"delete", "A", "Missing"};
        QTest::newRow("delete missing key") << QStringList{"delete", "Nope"};
        QTest::newRow("delete the top") << QStringList{"delete", "\\"};
        QTest::newRow("export missing key") << QStringList{"export", "Nope", "out.cfg"};
        QTest::newRow("import missing file") << QStringList{"import", "no-such-file.cfg"};
    }

    void errorsExitWithOne()
    {
        QFETCH(QStringList, args);
        ok({"set", "A", "Existing", "str", "x"});
        const Result r = run(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!r.err.trimmed().isEmpty());
        QVERIFY(r.err.startsWith("quellmark-reg: ") || r.err.startsWith("Usage:"));
        QCOMPARE(r.out, QByteArray());
        // Nothing was written or removed.
        QCOMPARE(ok({"list", "A"}), QByteArray("Existing  REG_SZ  x\n"));
        QVERIFY(!QFile::exists(QStringLiteral("out.cfg")));
    }

    void badIntegerMessage()
    {
        const Result r = run({"set", "A", "N", "int", "12x"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("'12x' is not a valid integer value"), r.err.constData());
    }

    void exportToUnwritablePathFails()
    {
        ok({"set", "A", "X", "int", "1"});
        const Result r = run({"export", "A", m_sandbox->root()}); // a folder
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!r.err.isEmpty());
    }

    void invalidStoreIsLeftUnchanged()
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_sandbox->storePath()).path()));
        const QByteArray garbage("this is not a settings store\n", 29);
        {
            QFile f(m_sandbox->storePath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(garbage);
        }
        for (const QStringList &args :
             {QStringList{"set", "A", "B", "str", "x"}, QStringList{"list", "A"}}) {
            const Result r = run(args);
            QCOMPARE(r.exitCode, 1);
            QVERIFY(r.err.contains(QFile::encodeName(m_sandbox->storePath())));
        }
        QFile f(m_sandbox->storePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), garbage);
    }

    // A damaged store is named as such with the way back, which then
    // brings the last good copy and keeps the damaged file aside.
    void damagedStoreRestoresLastGood_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("cut to half") << "half";
        QTest::newRow("random bytes") << "random";
    }
    void damagedStoreRestoresLastGood()
    {
        QFETCH(QString, damage);
        const QString store = m_sandbox->storePath();
        StoreDamage::makeStore(store, QStringLiteral("saved"));
        LastGoodCopy(store).save();
        const QStringList get{"get", "Software\\Kestrin Software\\Quellmark", "SmtpServer"};
        Result r = run({"restore-last-good"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("is not damaged"), r.err);
        QCOMPARE(ok(get), QByteArray("saved\n"));

        StoreDamage::makeStore(store, QStringLiteral("changed"));
        StoreDamage::apply(store, damage);
        const QByteArray damaged = StoreDamage::readAll(store);
        r = run(get);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("is damaged") && r.err.contains("restore-last-good"), r.err);

        r = run({"restore-last-good"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("Restored the last good copy saved "), r.out);
        QCOMPARE(ok(get), QByteArray("saved\n"));
        // Its -wal and -shm, if any, went with it.
        QStringList aside =
            QDir(QFileInfo(store).path()).entryList({QStringLiteral("registry.sqlite.damaged-*")});
        aside.removeIf([](const QString &name) {
            return name.endsWith(QLatin1String("-wal")) || name.endsWith(QLatin1String("-shm"));
        });
        QCOMPARE(aside.size(), 1);
        QVERIFY(r.out.contains(QFile::encodeName(aside.first())));
        QCOMPARE(StoreDamage::readAll(QFileInfo(store).path() + '/' + aside.first()), damaged);
    }

    void helpGoesToStandardOutput_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::newRow("long") << "--help";
        QTest::newRow("short") << "-h";
    }

    void helpGoesToStandardOutput()
    {
        QFETCH(QString, flag);
        const Result r = run({flag});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: quellmark-reg"));
        QVERIFY(r.out.contains("export KEY FILE"));
        QVERIFY(r.out.contains("restore-last-good"));
        QCOMPARE(r.err, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestQuellmarkReg)
#include "tst_quellmarkreg.moc"
