// The main window: the menu with its accelerators, the console view, and the enabling rules.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QInputDialog>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>

#include <limits>

#include "worva.h"
#include "zentra/catalogue.h"

namespace worva {

QIcon AppIcon() {
    // Drawn from the SVG at each size, so it is sharp in the title bar and in the About box.
    static const QIcon icon = [] {
        QIcon drawn;
        QSvgRenderer svg(QStringLiteral(":/orvanta.svg"));
        if (!svg.isValid()) return drawn;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            svg.render(&painter);
            painter.end();
            drawn.addPixmap(pixmap);
        }
        return drawn;
    }();
    return icon;
}

QString ConnectionTitle(const CONNECT_PARAMS& params) {
    QString where;
    if (!params.strUser.empty()) where = ToQString(params.strUser) + QLatin1Char('@');
    where += ToQString(params.strHost);
    if (!params.strDatabase.empty())
        where += (params.strHost.empty() ? QString() : QStringLiteral("/")) + ToQString(params.strDatabase);
    QString type;
    for (const auto& row : zentra::g_ConnConfs)
        if (static_cast<std::uint32_t>(row.nType) == params.nType) type = ToQString(row.strName);
    // "SQLite3 Database (*.db)" names its type without the file pattern.
    if (type.endsWith(QLatin1Char(')')) && type.contains(QLatin1Char('(')))
        type = type.left(type.lastIndexOf(QLatin1Char('('))).trimmed();
    QString title = LoadQString(AFX_IDS_APP_TITLE);
    if (!where.isEmpty()) title += QStringLiteral(" \u2014 ") + where;
    if (!type.isEmpty()) title += QStringLiteral(" (%1)").arg(type);
    return title;
}

CMainFrame::CMainFrame(bool autoConnect) {
    setWindowTitle(LoadQString(AFX_IDS_APP_TITLE));
    setWindowIcon(AppIcon());
    m_pView = new CCommandEdit(this);
    setCentralWidget(m_pView);
    setFocusProxy(m_pView);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    AddCommand(file, tr("&Open Script"), ID_OPEN_SCRIPT, QKeySequence(Qt::CTRL | Qt::Key_O));
    file->addSeparator();
    AddCommand(file, tr("&Connect"), ID_CONNECT, {});
    AddCommand(file, tr("&Disconnect"), ID_DISCONNECT, {});
    file->addSeparator();
    AddCommand(file, tr("E&xit"), ID_APP_EXIT, {});
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    AddCommand(edit, tr("&Copy"), ID_EDIT_COPY, QKeySequence(Qt::CTRL | Qt::Key_Insert));
    AddCommand(edit, tr("&Paste"), ID_EDIT_PASTE, QKeySequence(Qt::SHIFT | Qt::Key_Insert));
    edit->addSeparator();
    AddCommand(edit, tr("C&lear"), ID_EDIT_CLEAR, QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    QMenu* view = menuBar()->addMenu(tr("&View"));
    AddCommand(view, tr("Auto &Wrap"), ID_AUTO_WRAP, QKeySequence(Qt::ALT | Qt::Key_W))->setCheckable(true);
    AddCommand(view, tr("&Scroll-back Limit..."), ID_SCROLL_BACK, {});
    QMenu* search = menuBar()->addMenu(tr("&Search"));
    AddCommand(search, tr("&Find"), ID_FIND, QKeySequence(Qt::CTRL | Qt::Key_F));
    AddCommand(search, tr("Find &Next"), ID_FIND_NEXT, QKeySequence(Qt::Key_F3));
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    AddCommand(help, tr("&About Orvanta ..."), ID_APP_ABOUT, {});

    auto run = [this](unsigned id) {
        UpdateCommands();
        if (!m_Actions.value(id)->isEnabled()) return;  // a disabled command does nothing
        switch (id) {
        case ID_OPEN_SCRIPT: m_pView->OnOpenScript(); break;
        case ID_CONNECT: m_pView->OnConnect(); break;
        case ID_DISCONNECT: m_pView->OnDisconnect(); break;
        case ID_APP_EXIT: close(); break;
        case ID_EDIT_COPY: m_pView->OnCopy(); break;
        case ID_EDIT_PASTE: m_pView->OnPaste(); break;
        case ID_EDIT_CLEAR: m_pView->OnClear(); break;
        case ID_AUTO_WRAP: m_pView->OnAutoWrap(); break;
        case ID_FIND: m_pView->OnFind(); break;
        case ID_FIND_NEXT: m_pView->OnFindNext(); break;
        case ID_APP_ABOUT: OnAbout(); break;
        case ID_SCROLL_BACK: OnScrollBack(); break;
        }
        UpdateCommands();
    };
    for (auto it = m_Actions.begin(); it != m_Actions.end(); ++it) {
        const unsigned id = it.key();
        connect(it.value(), &QAction::triggered, this, [run, id] { run(id); });
    }
    for (QMenu* menu : {file, edit, view, search, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);
    connect(m_pView, &CCommandEdit::stateChanged, this, &CMainFrame::UpdateCommands);
    connect(m_pView, &QPlainTextEdit::selectionChanged, this, &CMainFrame::UpdateCommands);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &CMainFrame::UpdateCommands);
    UpdateCommands();

    resize(760, 520);
    CenterOnScreen();
    if (autoConnect) QTimer::singleShot(0, m_pView, [this] { m_Actions.value(ID_CONNECT)->trigger(); });
}

QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, unsigned id, const QKeySequence& keys) {
    auto* action = menu->addAction(text);
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    const QString tip = LoadQString(id);
    if (!tip.isEmpty()) action->setStatusTip(tip.section(QLatin1Char('\n'), 0, 0));
    m_Actions.insert(id, action);
    return action;
}

QAction* CMainFrame::Action(unsigned id) const { return m_Actions.value(id); }

void CMainFrame::UpdateCommands() {
    const bool hasText = m_pView->CanClear();
    setWindowTitle(m_pView->IsChildRunning() ? ConnectionTitle(m_pView->GetConnectParams())
                                             : LoadQString(AFX_IDS_APP_TITLE));
    m_Actions.value(ID_CONNECT)->setEnabled(m_pView->CanConnect());
    m_Actions.value(ID_DISCONNECT)->setEnabled(m_pView->CanDisconnect());
    m_Actions.value(ID_OPEN_SCRIPT)->setEnabled(m_pView->CanDisconnect());
    m_Actions.value(ID_EDIT_COPY)->setEnabled(m_pView->CanCopy());
    m_Actions.value(ID_EDIT_PASTE)->setEnabled(m_pView->CanPaste());
    m_Actions.value(ID_EDIT_CLEAR)->setEnabled(hasText);
    m_Actions.value(ID_FIND)->setEnabled(hasText);
    m_Actions.value(ID_FIND_NEXT)->setEnabled(hasText);
    m_Actions.value(ID_AUTO_WRAP)->setChecked(m_pView->GetAutoWrap() != 0);
}

void CMainFrame::CenterOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void CMainFrame::OnScrollBack() {
    bool ok = false;
    const int lines = QInputDialog::getInt(this, tr("Scroll-back Limit"),
                                           tr("Lines of output kept for scrolling back:"), m_pView->GetScrollBack(),
                                           CCommandEdit::kMinScrollBack, std::numeric_limits<int>::max(), 100000, &ok);
    if (ok) m_pView->SetScrollBack(lines);
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Closing ends a running child at once, without asking it to leave.
    m_pView->GetRedir().Detach();
    QMainWindow::closeEvent(event);
}

}  // namespace worva
