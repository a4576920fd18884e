// Benchmark of the console window: the time for the real window to show a 100,000-row result of
// a real orva child on SQLite, and the longest pause of the window's event loop meanwhile.
//
//   worva_bench [--rows N]
//   worva_bench --screenshot out.png --database demo.db [--query "select ..."]
//
// The second form connects to the database, runs the query and saves a picture of the window
// (run it under xvfb-run for a real X server).
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

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

int CountOf(CCommandEdit* view, const QString& text) {
    return view->toPlainText().count(text);
}

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

int Benchmark(int rows) {
    QTemporaryDir dir;
    const QString db = dir.filePath("bench.db");
    CMainFrame frame(false);
    frame.show();
    CCommandEdit* view = frame.View();
    if (!view->StartChild(SqliteParams(db)) || !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "orva did not start\n");
        return 1;
    }
    TypeLine(view, QStringLiteral("create table big as with recursive n(i) as (select 1 union all "
                                  "select i + 1 from n where i < %1) select i as id, 'name ' || i as "
                                  "name, i * 0.25 as amount, date('2020-01-01', '+' || (i % 1000) || "
                                  "' days') as day from n;").arg(rows));
    if (!WaitFor([&] { return CountOf(view, "Query Okay") >= 1 || CountOf(view, "ERROR") > 0; }, 60000) ||
        !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "could not make the table:\n%s\n", qPrintable(Tail(view, 10)));
        return 1;
    }

    // The longest pause of the event loop while the result arrives.
    QElapsedTimer sinceTick;
    qint64 longestPause = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestPause = std::max(longestPause, sinceTick.restart());
    });

    QElapsedTimer elapsed;
    elapsed.start();
    sinceTick.start();
    ticker.start();
    TypeLine(view, QStringLiteral("select * from big;"));
    // Only the last lines are looked at, so that watching costs the window nothing.
    const bool done = WaitFor([&] { return !view->IsBusy() && Tail(view, 3).contains("rows in set"); }, 600000);
    const qint64 ms = elapsed.elapsed();
    ticker.stop();
    if (!done) {
        std::fprintf(stderr, "the result did not arrive\n");
        return 1;
    }
    const QString okay = Tail(view, 3).trimmed();
    std::printf("rows: %d\nwindow shows the result after: %.3f s\nlongest event-loop pause: %lld ms\n"
                "characters in the view: %lld\nlast lines: %s\n",
                rows, ms / 1000.0, static_cast<long long>(longestPause),
                static_cast<long long>(view->document()->characterCount()), qPrintable(okay));
    return 0;
}

int Screenshot(const QString& out, const QString& database, const QString& query) {
    CMainFrame frame(false);
    frame.resize(900, 560);
    frame.show();
    CCommandEdit* view = frame.View();
    if (!view->StartChild(SqliteParams(database)) || !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "orva did not start\n");
        return 1;
    }
    TypeLine(view, query);
    if (!WaitFor([&] { return CountOf(view, "Query Okay") >= 1; }, 60000) || !WaitForPrompt(view, 30000)) {
        std::fprintf(stderr, "no result:\n%s\n", qPrintable(Tail(view, 10)));
        return 1;
    }
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    WaitFor([] { return false; }, 300);  // let the window paint
    QPixmap picture = frame.screen()->grabWindow(frame.winId());
    if (picture.isNull() || picture.width() < 10) picture = frame.grab();
    if (!picture.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Settings and history of this run stay in a folder of their own.
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", qPrintable(home.filePath("config")), 1);
    setenv("XDG_STATE_HOME", qPrintable(home.filePath("state")), 1);
    QApplication app(argc, argv);
    RegisterResources();
    const QStringList args = app.arguments();
    int rows = 100000;
    QString screenshot, database, query = QStringLiteral("select id, name, city, country, joined from customers;");
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--rows") rows = args[++i].toInt();
        else if (args[i] == "--screenshot") screenshot = args[++i];
        else if (args[i] == "--database") database = args[++i];
        else if (args[i] == "--query") query = args[++i];
    }
    if (!screenshot.isEmpty()) return Screenshot(screenshot, QFileInfo(database).absoluteFilePath(), query);
    return Benchmark(rows > 0 ? rows : 100000);
}
