// The manual pages in dist/ against the programs' own --help: every option
// and command that --help names is described in the page, and the page
// names none that the program does not have. The pages render with man
// without a warning.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

namespace {

QString output(const QString &program, const QStringList &arguments, QString *error = nullptr)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(30000))
        return QString();
    if (error)
        *error = QString::fromLocal8Bit(p.readAllStandardError());
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The page's text with roff's escapes for hyphens and fonts taken out.
QString pageText(const QString &name)
{
    QFile f(qEnvironmentVariable("KVARN_SOURCE_DIR") + "/dist/" + name);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(f.readAll());
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
    return text;
}

QSet<QString> options(const QString &text)
{
    QSet<QString> found;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--[a-z][a-z0-9-]*|-o)(?![\\w-])"));
    for (const QRegularExpressionMatch &m : option.globalMatch(text))
        found.insert(m.captured(1));
    return found;
}

// The first word of each entry (".TP" and the line after it) in one section.
QSet<QString> entries(const QString &page, const QString &section)
{
    QSet<QString> found;
    const QStringList lines = page.split(u'\n');
    bool inside = false;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith(".SH "))
            inside = lines[i] == ".SH " + section;
        if (inside && lines[i].startsWith(".TP")) {
            QString entry = lines[i + 1];
            entry.remove(QRegularExpression(QStringLiteral("^\\.(B|BI|BR|I)\\s+")));
            entry.remove(u'"');
            found.insert(entry.section(u' ', 0, 0));
        }
    }
    return found;
}

QString sorted(const QSet<QString> &set)
{
    QStringList list = set.values();
    list.sort();
    return list.join(u' ');
}

} // namespace

class TestManPages : public QObject {
    Q_OBJECT
private slots:
    void optionsMatchHelp_data();
    void optionsMatchHelp();
    void commandsMatchHelp();
    void pagesRenderWithoutWarnings_data();
    void pagesRenderWithoutWarnings();
};

void TestManPages::optionsMatchHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("page");
    QTest::newRow("kvarnctl") << qEnvironmentVariable("KVARN_CTL") << "kvarnctl.1";
    QTest::newRow("kvarn-sim") << qEnvironmentVariable("KVARN_SIM") << "kvarn-sim.1";
    QTest::newRow("kvarn-collect") << qEnvironmentVariable("KVARN_COLLECT") << "kvarn-collect.1";
}

void TestManPages::optionsMatchHelp()
{
    QFETCH(QString, program);
    QFETCH(QString, page);
    QString help = output(program, {"--help"});
    QVERIFY2(help.startsWith("Usage: "), qPrintable(program));
    // kvarnctl's commands have help texts of their own, with their options.
    if (page == "kvarnctl.1") {
        for (const char *command : {"read", "get", "set", "sync-clock", "spectrum", "archive", "poll", "convert",
                                       "ports", "passwd", "report", "export", "peaks"})
            help += output(program, {command, "--help"});
    }
    const QString text = pageText(page);
    QVERIFY2(!text.isEmpty(), qPrintable(page));
    QCOMPARE(sorted(options(text)), sorted(options(help)));

    // The emulator's fault kinds, each in its own line of the help.
    if (page == "kvarn-sim.1") {
        static const QRegularExpression kind(QStringLiteral("^    ([a-z0-9-]+)(?:\\[?:|\\s)"),
                                             QRegularExpression::MultilineOption);
        QSet<QString> kinds;
        for (const QRegularExpressionMatch &m : kind.globalMatch(help))
            kinds.insert(m.captured(1));
        QVERIFY(kinds.size() >= 10);
        for (const QString &k : kinds)
            QVERIFY2(QRegularExpression("^\\.(B|BR) " + QRegularExpression::escape(k) + "\\b",
                                        QRegularExpression::MultilineOption)
                         .match(text)
                         .hasMatch(),
                     qPrintable("fault kind " + k + " is not in the page"));
    }
}

void TestManPages::commandsMatchHelp()
{
    const QString help = output(qEnvironmentVariable("KVARN_CTL"), {"--help"});
    QSet<QString> commands;
    const QString list = help.section(QStringLiteral("Commands:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    static const QRegularExpression command(QStringLiteral("^  ([a-z-]+)"), QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &m : command.globalMatch(list))
        commands.insert(m.captured(1));
    QVERIFY(commands.size() >= 10);
    QCOMPARE(sorted(entries(pageText("kvarnctl.1"), "COMMANDS")), sorted(commands));
}

void TestManPages::pagesRenderWithoutWarnings_data()
{
    QTest::addColumn<QString>("page");
    for (const char *page : {"kvarn.1", "kvarnctl.1", "kvarn-sim.1", "kvarn-collect.1"})
        QTest::newRow(page) << QString::fromLatin1(page);
}

void TestManPages::pagesRenderWithoutWarnings()
{
    QFETCH(QString, page);
    const QString man = QStandardPaths::findExecutable("man");
    if (man.isEmpty())
        QSKIP("man is not installed (tools/setup.sh installs man-db)");
    qputenv("MANWIDTH", "80");
    QString warnings;
    const QString text = output(man, {"--warnings", "-l", qEnvironmentVariable("KVARN_SOURCE_DIR") + "/dist/" + page},
                                &warnings);
    QVERIFY2(text.contains("NAME"), qPrintable(page));
    QCOMPARE(warnings, QString());
}

QTEST_GUILESS_MAIN(TestManPages)
#include "tst_manpages.moc"
