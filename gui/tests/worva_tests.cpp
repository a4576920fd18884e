// Tests of the windowed front end: the real window, run headless, with a real orva child on
// SQLite where a child is needed.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <cstdlib>
#include <functional>

#include "worva.h"
#include "zentra/catalogue.h"
#include "zentra/settings.h"
#include "zentra/strtable.h"

using namespace worva;

namespace {

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
    return true;
}

QString LastLine(CCommandEdit* view) { return view->document()->lastBlock().text(); }

bool WaitForPrompt(CCommandEdit* view) {
    return WaitFor([&] { return view->IsChildRunning() && !view->IsBusy() && LastLine(view) == "SQL> "; });
}

CONNECT_PARAMS Sqlite(const QString& path) {
    CONNECT_PARAMS params;
    params.nType = 22;
    params.strDatabase = FromQString(path);
    return params;
}

// Handles the next modal dialog of type T that opens while the handler lives. Once the dialog
// is shown, `act` runs on it and is expected to close it; while the dialog stays open `act` runs
// again, a bounded number of times. When the tries run out, or no such dialog opens in time,
// every open modal dialog is rejected so that the modal loop of the code under test always ends,
// and Failure() says what went wrong: a test checks it right after the step that opened the
// dialog, so a dialog that will not close fails the test instead of blocking it.
template <typename T>
class ModalHandler {
public:
    explicit ModalHandler(std::function<void(T*)> act, int appearMs = 20000)
        : m_act(std::move(act)), m_appearMs(appearMs) {
        m_timer.setInterval(kPollMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_clock.start();
        m_timer.start();
    }
    ModalHandler(const ModalHandler&) = delete;
    ModalHandler& operator=(const ModalHandler&) = delete;

    QString Failure() const {
        if (!m_failure.isEmpty()) return m_failure;
        if (m_tries == 0) return QStringLiteral("no %1 opened").arg(Name());
        if (m_dialog && m_dialog->isVisible()) return QStringLiteral("the %1 is still open").arg(Name());
        return {};
    }

private:
    static constexpr int kPollMs = 20;
    static constexpr int kRetryMs = 100;
    static constexpr int kMaxTries = 50;

    static QString Name() { return QString::fromLatin1(T::staticMetaObject.className()); }
    QString Selected() const {
        auto* files = qobject_cast<QFileDialog*>(m_dialog.data());
        return files ? files->selectedFiles().join(", ") : QStringLiteral("-");
    }

    void Poll() {
        if (m_tries > 0) {
            if (!m_dialog || !m_dialog->isVisible()) {  // closed by `act`: done
                m_timer.stop();
                return;
            }
            if (m_sinceTry.elapsed() < kRetryMs) return;
            if (m_tries < kMaxTries) {
                Act(m_dialog);
                return;
            }
            m_failure = QStringLiteral("the %1 was still open after %2 tries (selected: %3)")
                            .arg(Name())
                            .arg(m_tries)
                            .arg(Selected());
            GiveUp();
            return;
        }
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            m_dialog = dialog;
            Act(dialog);
        } else if (m_clock.elapsed() > m_appearMs) {
            m_failure = QStringLiteral("no %1 opened").arg(Name());
            GiveUp();
        }
    }

    void Act(T* dialog) {
        ++m_tries;
        m_sinceTry.start();
        m_act(dialog);
    }

    // Rejects the open modal dialogs, innermost first, so that their loops end.
    void GiveUp() {
        m_timer.stop();
        for (int i = 0; i < 10; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) break;
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->done(QDialog::Rejected);
            else modal->close();
        }
    }

    std::function<void(T*)> m_act;
    int m_appearMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceTry;
    QPointer<T> m_dialog;
    int m_tries = 0;
    QString m_failure;
};

// Chooses `path` in a file dialog the way a user does: the name typed into the dialog's file-name
// field, then Open. (QFileDialog::selectFile() leaves that field alone while it has the keyboard
// focus, which it gains when the dialog window becomes active, so it cannot be relied on here.)
void ChooseFile(QFileDialog* dialog, const QString& path) {
    const QFileInfo info(path);
    dialog->setDirectory(info.absolutePath());
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(info.fileName());
    static_cast<QDialog*>(dialog)->accept();
}

void EnterLine(CCommandEdit* view, const QString& line) {
    for (QChar c : line) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(view, c.toLatin1());
        } else {  // what an input method delivers
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(view, &key);
        }
    }
    QTest::keyClick(view, Qt::Key_Return);
}

// A result long enough to be interrupted while it arrives.
const char* const kLongResult =
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000000) select i from n;";

std::uint32_t TypeOfKey(const wchar_t* key) {
    for (const auto& row : zentra::g_ConnConfs)
        if (row.strKey == key) return static_cast<std::uint32_t>(row.nType);
    return 0;
}

}  // namespace

class WorvaTests : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // Every test starts without stored settings.
        QFile::remove(m_home.filePath("config/orvanta/registry.reg"));
    }

    void CommandBufferStepsAndWraps() {
        CCommandBuffer history;
        QCOMPARE(ToQString(history.GetPrevCommand(1)), QString());
        QCOMPARE(ToQString(history.GetNextCommand(1)), QString());
        for (const wchar_t* line : {L"one", L"two", L"three"}) history.Add(line, 1);
        QCOMPARE(ToQString(history.GetNextCommand(1)), QString("one"));  // Down after Enter: oldest
        history.Add(L"three", 1);
        QCOMPARE(ToQString(history.GetPrevCommand(1)), QString("three"));
        QCOMPARE(ToQString(history.GetPrevCommand(1)), QString("two"));
        QCOMPARE(ToQString(history.GetPrevCommand(1)), QString("one"));
        QCOMPARE(ToQString(history.GetPrevCommand(1)), QString("three"));  // wraps to the newest
        QCOMPARE(ToQString(history.GetPrevCommand(0)), QString("two"));
        QCOMPARE(ToQString(history.GetNextCommand(1)), QString("three"));
        QCOMPARE(ToQString(history.GetNextCommand(0)), QString());
        // The same line again keeps one entry, now the newest; 21 lines drop the oldest.
        history.Add(L"one", 1);
        QCOMPARE(history.GetCommandCount(), 3);
        QCOMPARE(ToQString(history.GetLastCommand()), QString("one"));
        for (int i = 0; i < 21; ++i) history.Add(QString("line %1").arg(i).toStdWString().c_str(), 1);
        QCOMPARE(history.GetCommandCount(), 20);
        QCOMPARE(ToQString(history.GetFirstCommand()), QString("line 1"));
    }

    void CommandLineFromConnectParams() {
        CONNECT_PARAMS params;
        params.nType = TypeOfKey(L"mssql");
        QVERIFY(params.nType != 0);
        params.strHost = L"srv\\inst";
        params.nPort = 1433;
        params.strUser = L"sa";
        params.strPassword = L"top secret";
        params.strDatabase = L"C:\\db\\x.mdb";
        QCOMPARE(ToQString(BuildCommandLine(params)),
                 QString(R"(orva --type mssql --host "srv\\inst" --port 1433 --user "sa" --database "C:\\db\\x.mdb")"));
        // The password is never part of the command line.
        QVERIFY(!ToQString(BuildCommandLine(params)).contains("secret"));

        // Only the first of several keys; no port when it is 0; "dsn" for an unknown type.
        CONNECT_PARAMS firebird;
        for (const auto& row : zentra::g_ConnConfs)
            if (row.strKey.find(L'|') != zentra::CString::npos) firebird.nType = row.nType;
        QVERIFY(firebird.nType != 0);
        const QString line = ToQString(BuildCommandLine(firebird));
        QVERIFY2(QRegularExpression("^orva --type [a-z0-9]+$").match(line).hasMatch(), qPrintable(line));
        CONNECT_PARAMS unknown;
        unknown.nType = 999;
        QCOMPARE(ToQString(BuildCommandLine(unknown, L"/opt/my tools/orva")),
                 QString(R"("/opt/my tools/orva" --type dsn)"));
        // The split arguments come back as typed.
        const auto args = zentra::SplitCommandLine(BuildCommandLine(params));
        QCOMPARE(ToQString(args.at(4)), QString("srv\\inst"));
        QCOMPARE(ToQString(args.back()), QString("C:\\db\\x.mdb"));
    }

    void ConnectDialogDefaultsAndStoredValues() {
        // No stored settings: the first type by name with its defaults.
        {
            CONNECT_PARAMS none;
            CConnectDlg dialog(none);
            QCOMPARE(dialog.TypeList()->currentIndex(), 0);
            QStringList names;
            for (int i = 0; i < dialog.TypeList()->count(); ++i) names << dialog.TypeList()->itemText(i);
            QCOMPARE(names.size(), zentra::kConnConfCount);
            QStringList sorted = names;
            std::sort(sorted.begin(), sorted.end(),
                      [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
            QCOMPARE(names, sorted);
            // Picking MS SQL Server fills its defaults and empties the password and database.
            dialog.PasswordEdit()->setText("x");
            dialog.DatabaseEdit()->setText("y");
            QVERIFY(dialog.SelectType(TypeOfKey(L"mssql")));
            QCOMPARE(dialog.HostEdit()->text(), QString("localhost"));
            QCOMPARE(dialog.PortEdit()->text(), QString("1433"));
            QCOMPARE(dialog.UserEdit()->text(), QString("sa"));
            QCOMPARE(dialog.PasswordEdit()->text(), QString());
            QCOMPARE(dialog.DatabaseEdit()->text(), QString());
            QVERIFY(!dialog.BrowseButton()->isEnabled());
            QVERIFY(dialog.SelectType(22));
            QVERIFY(dialog.BrowseButton()->isEnabled());
            QCOMPARE(dialog.PortEdit()->text(), QString());  // no default port: empty

            // OK stores everything but the password; "12ab" reads as port 12.
            dialog.HostEdit()->setText("dbhost");
            dialog.PortEdit()->setText("12");
            dialog.UserEdit()->setText("me");
            dialog.PasswordEdit()->setText("pw");
            dialog.DatabaseEdit()->setText("/tmp/a.db");
            dialog.accept();
            QCOMPARE(dialog.GetParams().nType, 22u);
            QCOMPARE(dialog.GetParams().nPort, 12);
            QCOMPARE(ToQString(dialog.GetParams().strPassword), QString("pw"));
        }
        zentra::CSetting settings;
        QCOMPARE(settings.GetServerType(), 22u);
        QCOMPARE(ToQString(settings.GetDatabase()), QString("/tmp/a.db"));
        // Reopened: the stored values, an empty password.
        CONNECT_PARAMS none;
        CConnectDlg again(none);
        QCOMPARE(again.TypeList()->currentData().toUInt(), 22u);
        QCOMPARE(again.HostEdit()->text(), QString("dbhost"));
        QCOMPARE(again.PortEdit()->text(), QString("12"));
        QCOMPARE(again.UserEdit()->text(), QString("me"));
        QCOMPARE(again.PasswordEdit()->text(), QString());
        QCOMPARE(again.DatabaseEdit()->text(), QString("/tmp/a.db"));
        QVERIFY(again.BrowseButton()->isEnabled());
    }

    void ConnectDialogBrowse() {
        QTemporaryDir dir;
        CONNECT_PARAMS none;
        CConnectDlg dialog(none);
        // A file type: a file dialog whose first filter is the type's own.
        QVERIFY(dialog.SelectType(22));
        QStringList filters;
        bool folders = true;
        const QString file = dir.filePath("chosen.db");
        dialog.DatabaseEdit()->setText(dir.filePath("previous.db"));
        QString start;
        {
            ModalHandler<QFileDialog> browse([&](QFileDialog* files) {
                filters = files->nameFilters();
                folders = files->fileMode() == QFileDialog::Directory;
                if (start.isEmpty()) start = files->directory().absolutePath();
                ChooseFile(files, file);
            });
            dialog.BrowseButton()->click();
            QVERIFY2(browse.Failure().isEmpty(), qPrintable(browse.Failure()));
        }
        QVERIFY(!folders);
        QCOMPARE(start, QDir(dir.path()).absolutePath());  // the folder of the named file
        QVERIFY2(filters.size() == 2 && filters[0].contains("*.db") && filters[1] == "All files (*)",
                 qPrintable(filters.join(";")));
        QCOMPARE(dialog.DatabaseEdit()->text(), file);

        // dBase tables and CSV/text files name a folder; the browser starts at the field's path.
        for (std::uint32_t type : {10u, 13u}) {
            QVERIFY(dialog.SelectType(type));
            QVERIFY(dialog.BrowseButton()->isEnabled());
            dialog.DatabaseEdit()->setText(dir.path());
            QString folderStart;
            ModalHandler<QFileDialog> browse([&](QFileDialog* files) {
                folders = files->fileMode() == QFileDialog::Directory;
                folderStart = files->directory().absolutePath();
                files->close();
            });
            dialog.BrowseButton()->click();
            QVERIFY2(browse.Failure().isEmpty(), qPrintable(browse.Failure()));
            QVERIFY(folders);
            QCOMPARE(folderStart, QDir(dir.path()).absolutePath());
            QCOMPARE(dialog.DatabaseEdit()->text(), dir.path());  // cancelled: unchanged
        }
        // A folder chosen there lands in the field.
        const QString tables = dir.filePath("tables");
        QVERIFY(QDir().mkdir(tables));
        {
            ModalHandler<QFileDialog> browse([&](QFileDialog* files) { ChooseFile(files, tables); });
            dialog.BrowseButton()->click();
            QVERIFY2(browse.Failure().isEmpty(), qPrintable(browse.Failure()));
        }
        QCOMPARE(dialog.DatabaseEdit()->text(), tables);
    }

    void BrowseFiltersShowEveryPattern() {
        // One file for each pattern of each catalogue filter, and one without a dot.
        QTemporaryDir dir;
        QMap<QString, QStringList> expected;  // name filter -> the files it must show
        QStringList all{"noext"};
        zentra::CString filters;
        for (const auto& row : zentra::g_ConnConfs) {
            const QStringList parts = ToQString(row.strFileFilter).split('\t');
            if (parts.size() < 2) continue;
            filters += row.strFileFilter;
            QStringList patterns;
            for (QString pattern : parts[1].split(';', Qt::SkipEmptyParts)) {
                patterns << pattern.trimmed();
                all << QString(patterns.last()).replace('*', QString("f%1").arg(row.nType)).replace('?', "x");
            }
            expected[FilterToNameFilters(row.strFileFilter).value(0)] += patterns;
        }
        for (const QString& name : all) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        // Each filter must show every file that one of its patterns matches.
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            QStringList files;
            for (const QString& name : all)
                for (const QString& pattern : it.value())
                    if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                            .match(name)
                            .hasMatch() &&
                        !files.contains(name))
                        files << name;
            it.value() = files;
        }
        filters += zentra::LoadString(IDS_ALL_FILES_FILTER);
        const QStringList nameFilters = FilterToNameFilters(filters);
        QCOMPARE(nameFilters.last(), QString("All files (*)"));
        expected.insert(nameFilters.last(), all);
        QVERIFY(expected.size() > 5);

        QFileDialog dialog(nullptr, "Open", dir.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setNameFilters(nameFilters);
        dialog.show();
        auto* list = dialog.findChild<QListView*>("listView");
        QVERIFY(list);
        auto listed = [&] {
            QStringList names;
            for (int r = 0; r < list->model()->rowCount(list->rootIndex()); ++r)
                names << list->model()->index(r, 0, list->rootIndex()).data().toString();
            names.sort();
            return names;
        };
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            dialog.selectNameFilter(it.key());
            QStringList want = it.value();
            want.sort();
            WaitFor([&] { return listed() == want; }, 3000);
            QCOMPARE(dialog.selectedNameFilter(), it.key());
            QCOMPARE(listed(), want);
        }
    }

    void ViewWithoutChildIsReadOnly() {
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        frame.UpdateCommands();
        QVERIFY(view->IsConsoleReadOnly());
        QTest::keyClicks(view, "abc");
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(view->toPlainText(), QString());
        QVERIFY(frame.Action(ID_CONNECT)->isEnabled());
        QVERIFY(!frame.Action(ID_DISCONNECT)->isEnabled());
        QVERIFY(!frame.Action(ID_OPEN_SCRIPT)->isEnabled());
        QVERIFY(!frame.Action(ID_EDIT_PASTE)->isEnabled());
        QVERIFY(!frame.Action(ID_FIND)->isEnabled());
        QVERIFY(!frame.Action(ID_EDIT_CLEAR)->isEnabled());
    }

    void RoundTripThroughOrva() {
        QTemporaryDir dir;
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        QVERIFY(view->StartChild(Sqlite(dir.filePath("t.db"))));
        QVERIFY2(WaitForPrompt(view), qPrintable(view->toPlainText()));
        QVERIFY(!view->IsConsoleReadOnly());
        QVERIFY(!frame.Action(ID_CONNECT)->isEnabled());
        QVERIFY(frame.Action(ID_DISCONNECT)->isEnabled());

        EnterLine(view, "select 1;");
        QVERIFY2(WaitFor([&] { return view->toPlainText().contains("Query Okay"); }), qPrintable(view->toPlainText()));
        QVERIFY(WaitForPrompt(view));
        const QString text = view->toPlainText();
        QVERIFY(text.contains("| 1 |"));
        QVERIFY(text.contains("+---+"));
        QVERIFY(!text.contains('\r'));
        QCOMPARE(ToQString(view->GetHistory().GetLastCommand()), QString("select 1;"));

        // The password went through the environment, not the command line.
        frame.Action(ID_DISCONNECT)->trigger();
        QVERIFY2(WaitFor([&] { return !view->IsChildRunning(); }), qPrintable(view->toPlainText()));
        QVERIFY(WaitFor([&] { return view->toPlainText().contains("Bye"); }));
        frame.UpdateCommands();
        QVERIFY(frame.Action(ID_CONNECT)->isEnabled());
        QVERIFY(view->IsConsoleReadOnly());
    }

    void BusyWhileOutputArrivesAndCtrlCStopsIt() {
        QTemporaryDir dir;
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        QVERIFY(view->StartChild(Sqlite(dir.filePath("b.db"))));
        QVERIFY(WaitForPrompt(view));
        EnterLine(view, kLongResult);
        // While the rows arrive the view is read-only: typing and Enter do nothing.
        QVERIFY(WaitFor([&] { return view->IsBusy() && view->document()->blockCount() > 2000; }, 60000));
        QVERIFY(view->IsConsoleReadOnly());
        QVERIFY(view->isReadOnly());
        QTest::keyClicks(view, "zzz");
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(!view->toPlainText().contains("zzz"));
        // Ctrl+C reaches the child and stops the printout long before its end; the shell stays.
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QVERIFY2(
            WaitFor([&] { return view->IsChildRunning() && !view->IsBusy() && LastLine(view) == "SQL> "; }, 120000),
            qPrintable(LastLine(view)));
        QVERIFY2(view->document()->blockCount() < 2000000, qPrintable(QString::number(view->document()->blockCount())));
        QVERIFY(view->IsChildRunning());
    }

    void ConnectValuesReachTheChildAsTheyAre() {
        // Values from the dialog (and so from the settings file) with quotes, backslashes, blanks,
        // shell syntax and leading dashes: each reaches orva as one argument and nothing runs.
        QTemporaryDir dir;
        const QString marker = dir.filePath("ran");
        CONNECT_PARAMS params = Sqlite(dir.filePath("q.db"));
        params.strHost = FromQString("-c host touch " + marker + " \\\" $(id) `id` \\");
        params.strUser = FromQString("x\" --command \"host touch " + marker);
        const auto args = zentra::SplitCommandLine(BuildCommandLine(params));
        QCOMPARE(args.size(), size_t(9));
        QCOMPARE(ToQString(args[4]), ToQString(params.strHost));
        QCOMPARE(ToQString(args[6]), ToQString(params.strUser));
        QCOMPARE(ToQString(args[8]), ToQString(params.strDatabase));

        CCommandEdit view;
        QVERIFY(view.StartChild(params));
        QVERIFY(WaitForPrompt(&view));
        const pid_t pid = view.GetRedir().GetProcessInfo().dwProcessId;
        QFile cmdline(QString("/proc/%1/cmdline").arg(pid));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        const QList<QByteArray> seen = cmdline.readAll().split('\0');
        QVERIFY(seen.contains(ToQString(params.strUser).toUtf8()));
        QVERIFY(seen.contains(ToQString(params.strHost).toUtf8()));
        QVERIFY(!seen.contains("--command"));
        QVERIFY(!QFileInfo::exists(marker));
    }

    void PasswordNotInProcessListing() {
        QTemporaryDir dir;
        CCommandEdit view;
        CONNECT_PARAMS params = Sqlite(dir.filePath("p.db"));
        params.strPassword = L"Hidden-Pa55";
        QVERIFY(view.StartChild(params));
        QVERIFY(WaitForPrompt(&view));
        const pid_t pid = view.GetRedir().GetProcessInfo().dwProcessId;
        QVERIFY(pid > 0);
        QFile cmdline(QString("/proc/%1/cmdline").arg(pid));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        QByteArray args = cmdline.readAll();
        QVERIFY2(args.contains("--type"),
                 qPrintable(QString("pid %1: %2").arg(pid).arg(QString::fromLocal8Bit(args.replace('\0', ' ')))));
        QVERIFY(!args.contains("Hidden-Pa55"));
        QVERIFY(!args.contains("--password"));
        QVERIFY(qgetenv("ORVANTA_PASSWORD").isNull());  // not left in our own environment
    }

    void InputRegionKeysAndHistory() {
        QTemporaryDir dir;
        CCommandEdit view;
        view.show();
        QVERIFY(view.StartChild(Sqlite(dir.filePath("k.db"))));
        QVERIFY(WaitForPrompt(&view));
        const QString output = view.toPlainText();

        QTest::keyClicks(&view, "ab");
        QVERIFY(view.IsInputStarted());
        QCOMPARE(view.GetInputStart(), static_cast<long>(output.size()));
        // Home puts the caret at the input start; Backspace and Left there do nothing.
        QTest::keyClick(&view, Qt::Key_Home);
        QCOMPARE(view.textCursor().position(), static_cast<int>(output.size()));
        QTest::keyClick(&view, Qt::Key_Backspace);
        QTest::keyClick(&view, Qt::Key_Left);
        QCOMPARE(view.toPlainText(), output + "ab");
        QCOMPARE(view.textCursor().position(), static_cast<int>(output.size()));
        // Delete there deletes the first input character.
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(view.toPlainText(), output + "b");
        // Typing with the caret in the output lands in the input region.
        QTextCursor inOutput = view.textCursor();
        inOutput.setPosition(2);
        view.setTextCursor(inOutput);
        QTest::keyClicks(&view, "x");
        QCOMPARE(view.toPlainText(), output + "xb");
        // Shift+Home selects back to the input start.
        QTest::keyClick(&view, Qt::Key_End);
        QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(view.textCursor().selectedText(), QString("xb"));
        // Escape empties the input region.
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(view.toPlainText(), output);

        // Paste: with the caret in the output nothing happens; the key binding pastes into the
        // input region; a selection reaching into the output is moved first.
        QGuiApplication::clipboard()->setText("select 7;");
        QTest::keyClicks(&view, "q");
        QTest::keyClick(&view, Qt::Key_Backspace);
        view.setTextCursor(inOutput);
        view.OnPaste();
        QCOMPARE(view.toPlainText(), output);
        QTextCursor across = view.textCursor();
        across.setPosition(0);
        across.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        view.setTextCursor(across);
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(view.toPlainText(), output + "select 7;");
        // Cut and Delete with a selection in the output touch only the input.
        view.setTextCursor(across);
        QTest::keyClick(&view, Qt::Key_X, Qt::ControlModifier);
        QVERIFY(view.toPlainText().startsWith(output));

        // A drop onto the output is refused.
        QMimeData dropped;
        dropped.setText("DROP");
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &drop);
        QVERIFY(view.toPlainText().startsWith(output));
        QVERIFY(!view.toPlainText().contains("DROP"));

        // History: Up and Down recall the entered lines into the input region.
        QTest::keyClick(&view, Qt::Key_Escape);
        EnterLine(&view, "select 1;");
        QVERIFY(WaitFor([&] { return view.toPlainText().count("Query Okay") == 1; }));
        QVERIFY(WaitForPrompt(&view));
        EnterLine(&view, "select 2;");
        QVERIFY(WaitFor([&] { return view.toPlainText().count("Query Okay") == 2; }));
        QVERIFY(WaitForPrompt(&view));
        const QString before = view.toPlainText();
        QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(view.toPlainText(), before + "select 2;");
        QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(view.toPlainText(), before + "select 1;");
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(view.toPlainText(), before + "select 2;");
        // A line of blanks is sent but not stored.
        QTest::keyClick(&view, Qt::Key_Escape);
        EnterLine(&view, "   ");
        QVERIFY(WaitForPrompt(&view));
        QCOMPARE(view.GetHistory().GetCommandCount(), 2);

        // Ctrl+C at an idle prompt makes the shell leave.
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QVERIFY2(WaitFor([&] { return !view.IsChildRunning(); }), qPrintable(LastLine(&view)));
    }

    void FindForwardWithoutWrap() {
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        view->setPlainText("select Select\nSELECT selected select");
        QTextCursor start(view->document());
        view->setTextCursor(start);
        QVERIFY(view->FindText(CCommandEdit::kFindMatchCase, "Select"));
        QCOMPARE(view->textCursor().selectionStart(), 7);
        QVERIFY(!view->FindText(CCommandEdit::kFindMatchCase, "Select"));
        QCOMPARE(view->textCursor().selectionStart(), 7);  // unchanged, no wrap-around
        view->setTextCursor(start);
        QVERIFY(view->FindText(CCommandEdit::kFindWholeWord, "select"));
        QVERIFY(view->FindText(CCommandEdit::kFindWholeWord, "select"));
        QVERIFY(view->FindText(CCommandEdit::kFindWholeWord, "select"));
        QCOMPARE(view->textCursor().selectionStart(), 14);
        QVERIFY(view->FindText(CCommandEdit::kFindWholeWord, "select"));
        QCOMPARE(view->textCursor().selectionStart(), 30);  // "selected" skipped
        QVERIFY(!view->FindText(CCommandEdit::kFindWholeWord, "select"));

        // Find Next before any search opens the dialog; Find again opens no second one.
        frame.UpdateCommands();
        frame.Action(ID_FIND_NEXT)->trigger();
        QPointer<CFindDialog> dialog = view->GetFindDialog();
        QVERIFY(dialog);
        frame.Action(ID_FIND)->trigger();
        QCOMPARE(view->GetFindDialog(), dialog.data());
        // Searching from the dialog after the last match shows the message and keeps the selection.
        view->setTextCursor(start);
        dialog->FindEdit()->setText("SELECT");
        dialog->MatchCase()->setChecked(true);
        dialog->FindNextButton()->click();
        QCOMPARE(view->textCursor().selectionStart(), 14);
        QString message;
        {
            ModalHandler<QMessageBox> finished([&](QMessageBox* box) {
                message = box->text();
                box->close();
            });
            frame.Action(ID_FIND_NEXT)->trigger();
            QVERIFY2(finished.Failure().isEmpty(), qPrintable(finished.Failure()));
        }
        QCOMPARE(message, QString("Finished searching the document."));
        QCOMPARE(view->textCursor().selectionStart(), 14);
        dialog->reject();
        QVERIFY(!view->GetFindDialog());
        QCOMPARE(view->GetFindString(), QString("SELECT"));
    }

    void OpenScriptRunsItInTheChild() {
        QTemporaryDir dir;
        const QString script = dir.filePath("my script.sql");
        {
            QFile file(script);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("create table from_script (answer integer)\nGO\ninsert into from_script values (42)\n");
        }
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        QVERIFY(view->StartChild(Sqlite(dir.filePath("s.db"))));
        QVERIFY(WaitForPrompt(view));
        QTest::keyClicks(view, "half");
        QString filters;
        {
            ModalHandler<QFileDialog> open([&](QFileDialog* dialog) {
                filters = dialog->nameFilters().join(";");
                ChooseFile(dialog, script);
            });
            frame.Action(ID_OPEN_SCRIPT)->trigger();
            QVERIFY2(open.Failure().isEmpty(), qPrintable(open.Failure()));
        }
        QCOMPARE(filters, QString("SQL script file (*.sql);All files (*)"));
        QVERIFY2(WaitFor([&] { return view->toPlainText().contains("Execute script success"); }),
                 qPrintable(view->toPlainText()));
        QVERIFY(!view->toPlainText().contains("half"));  // the partial input was cleared
        QVERIFY(WaitForPrompt(view));
        // The script's table exists: the path arrived whole, blank included.
        EnterLine(view, "select * from from_script;");
        QVERIFY2(WaitFor([&] { return view->toPlainText().contains("Query Okay"); }), qPrintable(view->toPlainText()));
        QVERIFY(view->toPlainText().contains("answer"));
    }

    void AutoWrapIsRemembered() {
        CMainFrame frame(false);
        CCommandEdit* view = frame.View();
        QCOMPARE(view->GetAutoWrap(), 1);
        frame.Action(ID_AUTO_WRAP)->trigger();
        QCOMPARE(view->GetAutoWrap(), 0);
        QVERIFY(!frame.Action(ID_AUTO_WRAP)->isChecked());
        QCOMPARE(view->lineWrapMode(), QPlainTextEdit::NoWrap);
        CMainFrame next(false);
        QCOMPARE(next.View()->GetAutoWrap(), 0);
        QVERIFY(!next.Action(ID_AUTO_WRAP)->isChecked());
        next.Action(ID_AUTO_WRAP)->trigger();
        QCOMPARE(zentra::CSetting().GetAutoWrap(), 1);
    }

    void AboutBoxAndLinks() {
        CAboutDlg about;
        QCOMPARE(about.VersionLabel()->text(), QString("Orvanta Windows\nVersion 3.0.0.1"));
        QCOMPARE(about.Link()->GetURL(), HomePage());
        QCOMPARE(CHyperLink::ErrorText(26), QString("A sharing violation occurred. "));
        QCOMPARE(CHyperLink::ErrorText(99), QString("Unknown Error (99) occurred."));

        CCommandEdit view;
        view.resize(600, 200);
        view.show();
        view.setPlainText("see https://example.org/a|b. and www.test.org\nnothing here");
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QTextBlock block = view.document()->firstBlock();
        QTextCursor at(block);
        at.setPosition(8);
        QCOMPARE(view.LinkAt(view.cursorRect(at).center() + QPoint(2, 0)), QString("https://example.org/a"));
        at.setPosition(40);
        QCOMPARE(view.LinkAt(view.cursorRect(at).center() + QPoint(2, 0)), QString("www.test.org"));
        at.setPosition(1);
        QCOMPARE(view.LinkAt(view.cursorRect(at).center() + QPoint(2, 0)), QString());
    }

    void LongOutputLineStaysResponsive() {
        // A 300,000-character line and short lines after it: no block of the view is longer than
        // the fold length, and copying gives the line back whole.
        QTemporaryDir dir;
        CCommandEdit view;
        view.resize(600, 300);
        view.show();
        QVERIFY(view.StartChild(Sqlite(dir.filePath("l.db"))));
        QVERIFY(WaitForPrompt(&view));
        const long start = view.document()->characterCount() - 1;
        EnterLine(&view, "host head -c 300000 /dev/zero | tr '\\0' y && echo && seq 3");
        QVERIFY2(WaitFor([&] { return LastLine(&view) == "SQL> " && view.document()->blockCount() > 4; }, 60000),
                 qPrintable(LastLine(&view)));
        int longest = 0;
        for (QTextBlock b = view.document()->firstBlock(); b.isValid(); b = b.next())
            longest = std::max(longest, b.length() - 1);
        QVERIFY2(longest <= CPromptEdit::kFoldLength, qPrintable(QString::number(longest)));
        const QString text = view.TextBetween(start, view.document()->characterCount() - 1);
        QVERIFY(text.contains('\n' + QString(300000, 'y') + "\n1\n2\n3\nSQL> "));
        QTextCursor all(view.document());
        all.setPosition(static_cast<int>(start));
        all.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        view.setTextCursor(all);
        view.OnCopy();
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }

    void TypeAheadIsKeptInOrder() {
        QTemporaryDir dir;
        CCommandEdit view;
        view.show();
        QVERIFY(view.StartChild(Sqlite(dir.filePath("t.db"))));
        QVERIFY(WaitForPrompt(&view));
        EnterLine(&view, "host seq 200000");
        // Typed while the numbers arrive: kept, then run once the prompt is back.
        QTest::keyClicks(&view, "select 6 * 7 as answerr");
        QTest::keyClick(&view, Qt::Key_Backspace);
        QTest::keyClicks(&view, ";");
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(view.TypeAheadCount() > 0);
        QVERIFY2(WaitFor([&] { return view.toPlainText().contains("Query Okay"); }, 60000),
                 qPrintable(LastLine(&view)));
        QVERIFY(WaitForPrompt(&view));
        const QString text = view.toPlainText();
        // (Under load the child may pause long enough mid-output to count as idle, so where the
        // line shows may vary; it is whole, in order, and its answer follows all the numbers.)
        QVERIFY(text.contains("select 6 * 7 as answer;\n"));
        QVERIFY(text.indexOf("| 1 |     42 |") > text.indexOf("\n200000\n"));
        QVERIFY2(text.contains("| 1 |     42 |"), qPrintable(text.right(400)));
        QCOMPARE(view.TypeAheadCount(), 0);
        // An interrupt drops what was typed ahead.
        EnterLine(&view, "host seq 3000000");
        QVERIFY(WaitFor([&] { return view.IsBusy() && view.document()->blockCount() > 1000; }));
        QTest::keyClicks(&view, "select 'lost';");
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(view.TypeAheadCount(), 0);
    }

    void TypingWhileOutputPausesKeepsOutputAndInput() {
        QTemporaryDir dir;
        CCommandEdit view;
        view.show();
        QVERIFY(view.StartChild(Sqlite(dir.filePath("t.db"))));
        QVERIFY(WaitForPrompt(&view));
        // The pipe runs dry inside a line: not a prompt, so what is typed meanwhile waits.
        EnterLine(&view, "host printf 'first\\nhalf' && sleep 0.1 && printf ' line\\n'");
        QTest::keyClicks(&view, "select 99 as n;");
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY2(WaitFor([&] { return view.toPlainText().contains("Query Okay"); }), qPrintable(view.toPlainText()));
        QVERIFY(WaitForPrompt(&view));
        QString text = view.toPlainText();
        QVERIFY2(text.contains("first\nhalf line\nSQL> select 99 as n;\n"), qPrintable(text));
        // Input begun while the output paused at a line's end moves behind the rest of it.
        EnterLine(&view, "host printf 'one\\n' && sleep 0.6 && printf 'two\\n'");
        QVERIFY(WaitFor([&] { return view.toPlainText().endsWith("one\n") && !view.IsBusy(); }));
        QTest::keyClicks(&view, "select 7");
        QVERIFY(WaitFor([&] { return view.toPlainText().contains("two\n"); }));
        QVERIFY2(WaitFor([&] { return !view.IsBusy() && LastLine(&view) == "SQL> select 7"; }),
                 qPrintable(view.toPlainText()));
        QTest::keyClicks(&view, " as seven;");
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(WaitFor([&] { return view.toPlainText().count("Query Okay") == 2; }));
        text = view.toPlainText();
        QVERIFY2(text.contains("one\ntwo\nSQL> select 7 as seven;\n"), qPrintable(text));
    }

    void ViewFollowsLargeOutputWhileKeysWait() {
        QTemporaryDir dir;
        CMainFrame frame(false);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        CCommandEdit* view = frame.View();
        QVERIFY(view->StartChild(Sqlite(dir.filePath("t.db"))));
        QVERIFY(WaitForPrompt(view));
        EnterLine(view,
                  "create table big as with recursive n(i) as (select 1 union all select i + 1 from n "
                  "where i < 5000) select i as id, 'name' || i as name from n;");
        QVERIFY(WaitFor([&] { return view->toPlainText().contains("Query Okay"); }));
        QVERIFY(WaitForPrompt(view));
        // A result in many pieces, and the next command typed at once: the view stays at the end.
        EnterLine(view, "select id, name, hex(zeroblob(90)) as pad from big where id<=5000;");
        EnterLine(view, "select 99;");
        QScrollBar* bar = view->verticalScrollBar();
        QVERIFY(WaitFor([&] { return view->toPlainText().contains("SQL> select 99;\n") && LastLine(view) == "SQL> "; },
                        30000));
        QVERIFY(WaitForPrompt(view));
        QCOMPARE(bar->value(), bar->maximum());
        // The last line is in sight.
        QTextCursor end(view->document());
        end.movePosition(QTextCursor::End);
        const QRect caret = view->cursorRect(end);
        QVERIFY2(caret.top() >= 0 && caret.bottom() <= view->viewport()->height(),
                 qPrintable(QString("%1 %2").arg(caret.top()).arg(view->viewport()->height())));
    }

    void ResizeKeepsTheLinesInSight() {
        // Wrapped lines sharing blocks; a new width must not move the view away from the match.
        CMainFrame frame(false);
        frame.resize(800, 500);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        CCommandEdit* view = frame.View();
        view->SetAutoWrap(1);
        QString chunk;
        for (int i = 1; i <= 100000; ++i) {
            chunk += QString("| %1 | name%1 | %2 |\n").arg(i, 6).arg(QString(120, QChar('x')));
            if (i % 5000 == 0) {
                view->AppendOutput(chunk);
                chunk.clear();
            }
        }
        view->AppendOutput("SQL> ");
        QTest::qWait(400);
        const int at = view->toPlainText().indexOf("|  30000 |");
        QVERIFY(at > 0);
        QTextCursor found(view->document());
        found.setPosition(at);
        found.setPosition(at + 10, QTextCursor::KeepAnchor);
        view->setTextCursor(found);
        view->repaint();
        QTest::qWait(400);
        auto topLine = [&] {
            const QTextCursor top = view->cursorForPosition(QPoint(1, 1));
            return view->TextBetween(top.position(), top.position() + 10);
        };
        const QString before = topLine();
        QVERIFY2(before.contains("  299") || before.contains("  300"), qPrintable(before));
        frame.resize(900, 500);
        QTest::qWait(600);  // the layouts out of sight are freed meanwhile
        view->repaint();
        QVERIFY2(view->cursorRect(found).top() >= 0 && view->cursorRect(found).bottom() <= view->viewport()->height(),
                 qPrintable(topLine()));
    }

    void KeysScrollCopyAndInterrupt() {
        QTemporaryDir dir;
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        QVERIFY(view->StartChild(Sqlite(dir.filePath("k.db"))));
        QVERIFY(WaitForPrompt(view));
        frame.UpdateCommands();
        // The title names the connection.
        QVERIFY2(frame.windowTitle().startsWith(QString::fromUtf8("Orvanta \u2014 ") + dir.filePath("k.db")) &&
                     frame.windowTitle().endsWith("(SQLite3 Database)"),
                 qPrintable(frame.windowTitle()));
        EnterLine(view, "host seq 500");
        QVERIFY(WaitFor([&] { return view->toPlainText().contains("500\nSQL> "); }));
        QVERIFY(WaitForPrompt(view));
        QScrollBar* bar = view->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QTest::keyClick(view, Qt::Key_PageUp);
        QVERIFY(bar->value() < bar->maximum());
        QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(view, Qt::Key_PageDown);
        QVERIFY(bar->value() > 0);
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->maximum());
        // Ctrl+C with a selection copies and leaves the child alone; the child keeps running.
        QTextCursor select(view->document());
        select.setPosition(view->toPlainText().indexOf("\n499\n") + 1);
        select.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
        view->setTextCursor(select);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("499"));
        QTest::qWait(300);
        QVERIFY(view->IsChildRunning());
        // Ctrl+Break as X11 reports it (Pause with Ctrl, or the Break keysym) interrupts.
        EnterLine(view, kLongResult);
        QVERIFY(WaitFor([&] { return view->IsBusy() && view->document()->blockCount() > 2000; }, 60000));
        QKeyEvent breakKey(QEvent::KeyPress, 0, Qt::ControlModifier, 0, 0xff6b, 0);
        QCoreApplication::sendEvent(view, &breakKey);
        QVERIFY(WaitFor([&] { return !view->IsBusy() && LastLine(view) == "SQL> "; }, 120000));
        QVERIFY(view->document()->blockCount() < 2000000);
        // An ended session says so, and the title no longer names it.
        EnterLine(view, "exit");
        QVERIFY(WaitFor([&] { return !view->IsChildRunning(); }));
        QVERIFY(WaitFor([&] { return view->toPlainText().contains(LoadQString(IDS_SESSION_ENDED)); }));
        QVERIFY(LoadQString(IDS_SESSION_ENDED).contains("Connect"));
        QCOMPARE(frame.windowTitle(), QString("Orvanta"));
    }

    void ScrollBackLimitAndClear() {
        QTemporaryDir dir;
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        QCOMPARE(view->GetScrollBack(), CCommandEdit::kDefaultScrollBack);
        view->SetScrollBack(1);  // raised to the least limit
        QCOMPARE(view->GetScrollBack(), CCommandEdit::kMinScrollBack);
        QCOMPARE(CCommandEdit::StoredScrollBack(), CCommandEdit::kMinScrollBack);
        QVERIFY(view->StartChild(Sqlite(dir.filePath("s.db"))));
        QVERIFY(WaitForPrompt(view));
        EnterLine(view, "host seq 5000");
        QVERIFY(WaitFor([&] { return view->toPlainText().contains("5000\nSQL> "); }));
        QVERIFY(WaitForPrompt(view));
        QVERIFY(view->document()->blockCount() <= CCommandEdit::kMinScrollBack);
        QVERIFY(view->toPlainText().startsWith("4002\n"));
        // The input region still works after the oldest lines went.
        EnterLine(view, "select 5 as five;");
        QVERIFY(WaitFor([&] { return view->toPlainText().contains("Query Okay"); }));
        QVERIFY(view->toPlainText().contains("SQL> select 5 as five;\n"));
        QVERIFY(WaitForPrompt(view));
        // A raised limit is kept for the next window.
        view->SetScrollBack(5000000);
        CMainFrame next(false);
        QCOMPARE(next.View()->GetScrollBack(), 5000000);
        frame.Action(ID_EDIT_CLEAR)->trigger();
        QVERIFY(WaitForPrompt(view));
        QCOMPARE(view->toPlainText(), QString("SQL> "));
    }

    void TripleClickSelectsOneLine() {
        // Lines that share a block: a triple click still selects the one line under the pointer.
        CCommandEdit view;
        view.resize(600, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.AppendOutput("first\nsecond line\nthird\nSQL> ");
        QCOMPARE(view.document()->firstBlock().text(),
                 QString("first") + QChar(0x2028) + "second line" + QChar(0x2028) + "third");
        QTextCursor at(view.document());
        at.setPosition(8);
        const QPoint point = view.cursorRect(at).center();
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, point);
        QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, point);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, point);
        QCOMPARE(view.TextBetween(view.textCursor().selectionStart(), view.textCursor().selectionEnd()),
                 QString("second line\n"));
    }

    void StoreKeepsLayoutsOnlyInSightAndGivesBackOnClear() {
        CMainFrame frame(false);
        frame.show();
        CCommandEdit* view = frame.View();
        view->SetScrollBack(CCommandEdit::kMinScrollBack);
        const int inSight = view->viewport()->height() / view->fontMetrics().lineSpacing() + 2;
        // Output arriving a few lines at a time, painted between: every line is in sight once.
        auto output = [&](int lines) {
            for (int i = 0; i < lines; i += 20) {
                QString chunk;
                for (int j = i; j < i + 20; ++j) chunk += QString("line %1 https://example.com/%1\n").arg(j);
                view->AppendOutput(chunk);
                view->repaint();
            }
        };
        output(3000);
        QVERIFY(WaitFor([&] { return view->GetStoreFigures().laidOutBlocks <= inSight; }, 5000));
        // Scrolling back through it lays the lines out again; they are freed once out of sight.
        for (int value = 0; value <= view->verticalScrollBar()->maximum(); value += inSight) {
            view->verticalScrollBar()->setValue(value);
            view->repaint();
        }
        view->verticalScrollBar()->setValue(0);
        view->repaint();
        QVERIFY(WaitFor([&] { return view->GetStoreFigures().laidOutBlocks <= inSight; }, 5000));
        QVERIFY(!view->toPlainText().isEmpty());
        // A new width lays every block out again: the layouts out of sight go, and the scroll
        // bar counts every line of a block again, not one a block.
        frame.resize(frame.width() + 40, frame.height());
        QVERIFY(WaitFor([&] { return view->GetStoreFigures().laidOutBlocks <= inSight; }, 5000));
        QVERIFY2(view->document()->lineCount() >= view->LineCount(),
                 qPrintable(QString("%1 < %2").arg(view->document()->lineCount()).arg(view->LineCount())));
        // Lines dropped at the scroll-back limit do not stay in the text buffer.
        const CCommandEdit::StoreFigures full = view->GetStoreFigures();
        QCOMPARE(view->toPlainText().count('\n') + 1, CCommandEdit::kMinScrollBack);
        // Complete lines share blocks: the document's records per line stay few.
        QVERIFY2(full.blocks * 4 <= CCommandEdit::kMinScrollBack, qPrintable(QString::number(full.blocks)));
        QVERIFY2(full.textBytes <= 4 * 2 * view->document()->characterCount(),
                 qPrintable(QString::number(full.textBytes)));
        view->OnClear();
        const CCommandEdit::StoreFigures cleared = view->GetStoreFigures();
        QCOMPARE(cleared.blocks, 1);
        QVERIFY(cleared.laidOutBlocks <= 1);
        QVERIFY2(cleared.bufferBytes < 4096, qPrintable(QString::number(cleared.bufferBytes)));
    }

    void WindowCentredWithIconAndAboutFits() {
        CMainFrame frame(false);
        const QRect screen = frame.screen()->availableGeometry();
        QVERIFY2((frame.frameGeometry().center() - screen.center()).manhattanLength() <= 2,
                 qPrintable(QString("%1,%2").arg(frame.x()).arg(frame.y())));
        QVERIFY(!frame.windowIcon().isNull());
        QVERIFY(!frame.windowIcon().pixmap(32, 32).isNull());

        CAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
        QVERIFY2(about.width() >= title.horizontalAdvance("About Orvanta") + 100,
                 qPrintable(QString::number(about.width())));
        QVERIFY(about.VersionLabel()->width() >= about.VersionLabel()->sizeHint().width());
        QVERIFY(about.VersionLabel()->height() >= about.VersionLabel()->sizeHint().height());
        QVERIFY(about.Link()->width() >= about.Link()->sizeHint().width());
        // The link is a page that exists (the installed README, or the source tree's here).
        const QUrl page(about.Link()->GetURL());
        QVERIFY2(page.isLocalFile() && QFileInfo(page.toLocalFile()).isFile(), qPrintable(page.toString()));
        // A link that cannot be opened says why.
        QTemporaryDir dir;
        about.Link()->SetURL(QUrl::fromLocalFile(dir.filePath("gone.md")).toString());
        QString message;
        {
            ModalHandler<QMessageBox> box([&](QMessageBox* b) {
                message = b->text();
                b->close();
            });
            QTest::mouseClick(about.Link(), Qt::LeftButton);
            QVERIFY2(box.Failure().isEmpty(), qPrintable(box.Failure()));
        }
        QVERIFY2(message.startsWith("Unable to open hyperlink:\n\nThe specified file was not found.") &&
                     message.contains("gone.md"),
                 qPrintable(message));
        QVERIFY(!about.Link()->IsVisited());
    }

    void PortArrowsStepThePort() {
        CONNECT_PARAMS none;
        CConnectDlg dialog(none);
        dialog.show();
        QVERIFY(dialog.SelectType(TypeOfKey(L"mssql")));
        auto* up = dialog.findChild<QToolButton*>("PortUp");
        auto* down = dialog.findChild<QToolButton*>("PortDown");
        QVERIFY(up && down);
        QVERIFY(up->isVisible() && down->isVisible());
        up->click();
        QCOMPARE(dialog.PortEdit()->text(), QString("1434"));
        down->click();
        down->click();
        QCOMPARE(dialog.PortEdit()->text(), QString("1432"));
        dialog.PortEdit()->setText("65535");
        up->click();
        QCOMPARE(dialog.PortEdit()->text(), QString("65535"));
    }

    void WideCharactersAreTwoCells() {
        // Rows of a table with Chinese, Japanese and Korean text line up with an all-Latin row
        // in the view, and the font has the glyphs (no boxes).
        QTemporaryDir dir;
        CCommandEdit view;
        view.resize(700, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(view.StartChild(Sqlite(dir.filePath("w.db"))));
        QVERIFY(WaitForPrompt(&view));
        EnterLine(&view, QString::fromUtf8(
                             "select 'abcdefgh' as v union all select '中文漢字' union all select 'ÜüØøéèçñ' union all "
                             "select 'かなカナ' union all select '한국어글' union all select 'x';"));
        QVERIFY(WaitFor([&] { return view.toPlainText().contains("Query Okay"); }));
        QVERIFY(WaitForPrompt(&view));
        const QFontMetricsF metrics(view.font());
        QList<qreal> ends;
        for (QTextBlock b = view.document()->firstBlock(); b.isValid(); b = b.next()) {
            int offset = 0;  // lines share a block, parted by line separators
            for (const QString& line : b.text().split(QChar(CPromptEdit::kLineSeparator))) {
                offset += line.size() + 1;
                if (!line.startsWith("| ") ||
                    !line.contains(QRegularExpression("[a-h\\x{c0}-\\x{ff}\\x{3000}-\\x{d7ff}]{4}")))
                    continue;
                for (QChar c : line) QVERIFY2(c.unicode() < 0x1100 || metrics.inFont(c), qPrintable(QString(c)));
                QTextCursor at(view.document());
                at.setPosition(b.position() + offset - 1);
                ends << view.cursorRect(at).x();
            }
        }
        QCOMPARE(ends.size(), 5);
        for (qreal end : ends)
            QVERIFY2(qAbs(end - ends.first()) < 0.5, qPrintable(QString("%1 vs %2").arg(end).arg(ends.first())));
    }

public:
    QTemporaryDir m_home;
};

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    WorvaTests tests;
    // Settings and the child's history stay in a folder of the test run.
    qputenv("XDG_CONFIG_HOME", tests.m_home.filePath("config").toUtf8());
    qputenv("XDG_STATE_HOME", tests.m_home.filePath("state").toUtf8());
    QApplication app(argc, argv);
    RegisterResources();
    return QTest::qExec(&tests, argc, argv);
}

#include "worva_tests.moc"
