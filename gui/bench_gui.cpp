// Benchmark of the console window, with a real orva child on SQLite: the time for the real window
// to show a 100,000-row result and the memory it takes, then one 10-million-character line and a
// million short lines with wrap on and off; for each, the worst wait of a key typed meanwhile.
//
//   worva_bench [--rows N] [--long-line CHARS] [--short-lines N]
//   worva_bench --screenshot out.png --database demo.db [--shot window|cjk|connect|about]
//               [--query "select ..."]
//
// The second form connects to the database, runs the query and saves a picture of the window or
// of a dialog over it (scripts/screenshots.sh runs it on a real X server).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <cstdlib>
#include <functional>

#include <malloc.h>

#include "worva.h"

namespace {

using namespace worva;

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Types a line into the view and presses Enter, as the user does.
void TypeLine(CCommandEdit* view, const QString& line) {
    for (QChar c : line) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(view, &press);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(view, &enter);
}

int CountOf(CCommandEdit* view, const QString& text) { return view->toPlainText().count(text); }

// The text of the last few lines of the view.
QString Tail(CCommandEdit* view, int lines = 4) {
    QString tail;
    QTextBlock block = view->document()->lastBlock();
    for (int i = 0; i < lines && block.isValid(); ++i, block = block.previous()) tail.prepend(block.text() + "\n");
    return tail;
}

bool WaitForPrompt(CCommandEdit* view, int timeoutMs) {
    return WaitFor([&] { return view->IsChildRunning() && !view->IsBusy() && Tail(view, 1).startsWith("SQL> "); },
                   timeoutMs);
}

CONNECT_PARAMS SqliteParams(const QString& path) {
    CONNECT_PARAMS params;
    params.nType = 22;  // SQLite3
    params.strDatabase = FromQString(path);
    return params;
}

// The resident memory of this process, in bytes.
long long ResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// Posts a harmless key (Shift) to the view every 10 ms and records how long each waited before
// the view received it: the latency a typing user sees.
class InputProbe : public QObject {
public:
    explicit InputProbe(QWidget* view) : m_pView(view) {
        view->installEventFilter(this);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Post(); });
    }
    void Start() {
        m_worst = 0;
        m_clock.start();
        m_timer.start();
        Post();
    }
    qint64 Stop() {
        m_timer.stop();
        return m_worst;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Shift ||
            !static_cast<QKeyEvent*>(event)->isAutoRepeat())
            return false;
        if (!m_posted.empty()) {
            m_worst = std::max(m_worst, m_clock.elapsed() - m_posted.front());
            m_posted.pop_front();
        }
        return true;
    }

private:
    void Post() {
        // One probe in flight at a time: a blocked loop then shows as one long wait.
        if (!m_posted.empty()) {
            m_worst = std::max(m_worst, m_clock.elapsed() - m_posted.front());
            return;
        }
        m_posted.push_back(m_clock.elapsed());
        QCoreApplication::postEvent(m_pView,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, QString(), true));
    }

    QWidget* m_pView;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::deque<qint64> m_posted;
    qint64 m_worst = 0;
};

// The application, timing every event it handles: the longest one is the window's own share of
// an input wait, the rest of the wait is the machine's (other processes, the child, the reader).
qint64 g_longestEventMs = 0;
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const bool result = QApplication::notify(receiver, event);
        g_longestEventMs = std::max(g_longestEventMs, timer.elapsed());
        return result;
    }
};

struct Run {
    double seconds = 0;
    qint64 worstInputMs = 0;
    qint64 longestEventMs = 0;
    bool done = false;
};

// Enters a line and waits for the prompt after its output, probing the input latency meanwhile.
Run Measure(CCommandEdit* view, InputProbe& probe, const QString& line, const QString& last, int timeoutMs) {
    Run run;
    QElapsedTimer elapsed;
    const int before = CountOf(view, QStringLiteral("SQL> "));
    elapsed.start();
    g_longestEventMs = 0;
    probe.Start();
    TypeLine(view, line);
    // Only the last lines are looked at, so that watching costs the window nothing.
    run.done =
        WaitFor([&] { return !view->IsBusy() && Tail(view, 3).contains(last) && Tail(view, 1).startsWith("SQL> "); },
                timeoutMs);
    run.seconds = elapsed.elapsed() / 1000.0;
    run.worstInputMs = probe.Stop();
    run.longestEventMs = g_longestEventMs;
    (void)before;
    return run;
}

void Print(const char* what, const Run& run) {
    if (!run.done)
        std::printf("%-44s did not finish in time (worst input latency so far %lld ms)\n", what,
                    static_cast<long long>(run.worstInputMs));
    else
        std::printf("%-44s %8.3f s   worst input latency %5lld ms   longest event %4lld ms\n", what, run.seconds,
                    static_cast<long long>(run.worstInputMs), static_cast<long long>(run.longestEventMs));
}

int Benchmark(int rows, long long longLine, long long shortLines) {
    QTemporaryDir dir;
    const QString db = dir.filePath("bench.db");
    CMainFrame frame(false);
    frame.show();
    CCommandEdit* view = frame.View();
    InputProbe probe(view);
    if (!view->StartChild(SqliteParams(db)) || !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "orva did not start\n");
        return 1;
    }
    TypeLine(view, QStringLiteral("create table big as with recursive n(i) as (select 1 union all "
                                  "select i + 1 from n where i < %1) select i as id, 'name ' || i as "
                                  "name, i * 0.25 as amount, date('2020-01-01', '+' || (i % 1000) || "
                                  "' days') as day from n;")
                       .arg(rows));
    if (!WaitFor([&] { return CountOf(view, "Query Okay") >= 1 || CountOf(view, "ERROR") > 0; }, 60000) ||
        !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "could not make the table:\n%s\n", qPrintable(Tail(view, 10)));
        return 1;
    }
    view->OnClear();
    WaitForPrompt(view, 30000);

    const long long rssBefore = ResidentBytes();
    const long long charsBefore = view->document()->characterCount();
    const Run result =
        Measure(view, probe, QStringLiteral("select * from big;"), QStringLiteral("rows in set"), 600000);
    const long long chars = view->document()->characterCount() - charsBefore;
    const long long rssAfter = ResidentBytes();
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf(
        "(load average at the start: %.1f on %d cores; an input latency includes waits for the CPU,\n"
        " the longest event is the time the window itself spent on one event)\n",
        load[0], QThread::idealThreadCount());
    std::printf("%d-row result: %lld characters shown\n", rows, chars);
    Print("window shows the result after", result);
    std::printf("%-44s %8.2f bytes per character of text\n", "memory taken by the result",
                chars > 0 ? static_cast<double>(rssAfter - rssBefore) / chars : 0.0);
    const CCommandEdit::StoreFigures store = view->GetStoreFigures();
    const struct mallinfo2 heap = mallinfo2();
    std::printf("%-44s %8.1f MB text, %lld lines in %d blocks, %d laid out; heap %.1f MB in use, %.1f MB free\n",
                "  the view's store", store.textBytes / 1e6, static_cast<long long>(view->LineCount()), store.blocks,
                store.laidOutBlocks, (heap.uordblks + heap.hblkhd) / 1e6, heap.fordblks / 1e6);
    view->OnClear();
    WaitForPrompt(view, 30000);
    std::printf("%-44s %8.1f MB (was %.1f MB before the result, %.1f MB with it)\n", "resident after Clear",
                ResidentBytes() / 1e6, rssBefore / 1e6, rssAfter / 1e6);

    // One very long line, and very many short ones, with wrap on and off.
    const QString longCommand =
        QStringLiteral("host head -c %1 /dev/zero | tr '\\0' x && echo && echo long-line-done").arg(longLine);
    const QString shortCommand = QStringLiteral("host seq %1").arg(shortLines);
    const QString lastShort = QString::number(shortLines);
    for (int wrap : {1, 0}) {
        view->SetAutoWrap(wrap);
        view->OnClear();
        WaitForPrompt(view, 30000);
        Print(qPrintable(QStringLiteral("one %1-character line, wrap %2").arg(longLine).arg(wrap ? "on" : "off")),
              Measure(view, probe, longCommand, QStringLiteral("long-line-done"), 600000));
        // The window answers while it holds that line: a page up and back, with the latency.
        QElapsedTimer key;
        key.start();
        QKeyEvent pageUp(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &pageUp);
        QCoreApplication::processEvents();
        std::printf("%-44s %8lld ms\n", "  Page Up with that line shown", static_cast<long long>(key.elapsed()));
        view->OnClear();
        WaitForPrompt(view, 30000);
        Print(qPrintable(QStringLiteral("%1 short lines, wrap %2").arg(shortLines).arg(wrap ? "on" : "off")),
              Measure(view, probe, shortCommand, lastShort, 600000));
    }
    view->SetAutoWrap(1);
    return 0;
}

// Saves a picture of a window as the screen shows it, frame and title bar included when a window
// manager draws them.
bool SavePicture(QWidget* window, const QString& out) {
    window->raise();
    window->activateWindow();
    WaitFor([] { return false; }, 600);  // let the window manager place it and the window paint
    QScreen* screen = window->screen();
    QPixmap picture = screen->grabWindow(0, window->frameGeometry().x(), window->frameGeometry().y(),
                                         window->frameGeometry().width(), window->frameGeometry().height());
    if (picture.isNull() || picture.width() < 10) picture = window->grab();
    if (!picture.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return false;
    }
    std::printf("%s\n", qPrintable(out));
    return true;
}

// `shot`: "window" (the query's result), "cjk" (a table with Chinese, Japanese and Korean text),
// "connect" (the connect dialog over the window) or "about" (the About box).
int Screenshot(const QString& shot, const QString& out, const QString& database, const QString& query) {
    CMainFrame frame(false);
    frame.resize(900, 560);
    frame.CenterOnScreen();
    frame.show();
    CCommandEdit* view = frame.View();
    if (!view->StartChild(SqliteParams(database)) || !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "orva did not start\n");
        return 1;
    }
    frame.UpdateCommands();
    if (shot == "connect") {
        CConnectDlg dialog(view->GetConnectParams(), &frame);
        dialog.SelectType(22);
        dialog.DatabaseEdit()->setText(database);
        dialog.show();
        return SavePicture(&dialog, out) ? 0 : 1;
    }
    if (shot == "about") {
        CAboutDlg about(&frame);
        about.show();
        return SavePicture(&about, out) ? 0 : 1;
    }
    const QString line =
        shot == "cjk"
            ? QString::fromUtf8(
                  "select * from (select 'Beijing' as city, '北京' as local_name, 'China' as country "
                  "union all select 'Tokyo', '東京', '日本' union all select 'Seoul', '서울', '대한민국' "
                  "union all select 'Osaka', 'おおさか', 'Japan' union all select 'Taipei', '臺北', '中華民國');")
            : query;
    TypeLine(view, line);
    if (!WaitFor([&] { return CountOf(view, "Query Okay") >= 1; }, 60000) || !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "no result:\n%s\n", qPrintable(Tail(view, 10)));
        return 1;
    }
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    return SavePicture(&frame, out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Settings and history of this run stay in a folder of their own.
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", qPrintable(home.filePath("config")), 1);
    setenv("XDG_STATE_HOME", qPrintable(home.filePath("state")), 1);
    TimedApplication app(argc, argv);
    RegisterResources();
    const QStringList args = app.arguments();
    int rows = 100000;
    long long longLine = 10000000, shortLines = 1000000;
    QString shot = QStringLiteral("window");
    QString screenshot, database, query = QStringLiteral("select id, name, city, country, joined from customers;");
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--rows") rows = args[++i].toInt();
        else if (args[i] == "--long-line") longLine = args[++i].toLongLong();
        else if (args[i] == "--short-lines") shortLines = args[++i].toLongLong();
        else if (args[i] == "--screenshot") screenshot = args[++i];
        else if (args[i] == "--database") database = args[++i];
        else if (args[i] == "--query") query = args[++i];
        else if (args[i] == "--shot") shot = args[++i];
    }
    if (!screenshot.isEmpty()) return Screenshot(shot, screenshot, QFileInfo(database).absoluteFilePath(), query);
    return Benchmark(rows > 0 ? rows : 100000, std::max(1LL, longLine), std::max(1LL, shortLines));
}
