// worva: the windowed front end. It runs the console shell `orva` as a child process and turns a
// plain-text view into its console: the child's output is appended to the view, and the user types
// the next command behind the last output.
#pragma once

#include <QByteArray>
#include <QCheckBox>
#include <QDialog>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "zentra/history.h"
#include "zentra/pipe.h"
#include "zentra/text.h"

class QAction;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace worva {

using zentra::CString;

// Command and string ids of the program's resources.
enum : unsigned {
    IDR_MAINFRAME = 128,
    ID_DISCONNECT = 32773,
    ID_CONNECT = 32774,
    ID_FIND = 32775,
    ID_FIND_NEXT = 32776,
    ID_OPEN_SCRIPT = 32777,
    ID_AUTO_WRAP = 32779,
    ID_SCROLL_BACK = 32780,
    ID_EDIT_CLEAR = 57632,
    ID_EDIT_COPY = 57634,
    ID_EDIT_PASTE = 57637,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    AFX_IDS_APP_TITLE = 57344,
    AFX_IDS_IDLEMESSAGE = 57345,
    IDS_SQL_SCRIPT_FILTER = 61204,
    IDS_ALL_FILES_FILTER = 61205,
    IDS_SEARCH_FOLDER = 61215,
    IDS_FIND_FINISHED = 61300,
    IDS_SESSION_ENDED = 61301,
};

// Registers the program's string table and version block; called once at start.
void RegisterResources();

// A string-table text as a QString.
QString LoadQString(unsigned id);
QString ToQString(const CString& text);
CString FromQString(const QString& text);

// Turns a filter of the string table ("Description\t*.ext\t", several in a row) into the name
// filters of a file dialog ("Description (*.ext)").
QStringList FilterToNameFilters(const CString& filter);

// The history of lines entered in the view: a command buffer of 20 entries with read operations
// that step through it and wrap around.
class CCommandBuffer : public zentra::CSQLBuffer {
public:
    CCommandBuffer() : zentra::CSQLBuffer(20) {}

    CString GetFirstCommand();
    CString GetLastCommand();
    CString GetPrevCommand(int wrap);
    CString GetNextCommand(int wrap);
};

// The connection record of the front end.
struct CONNECT_PARAMS {
    std::uint32_t nType = 0;  // catalogue type id; 0 = none chosen yet
    CString strHost;
    int nPort = 0;  // 0 or less: not given
    CString strUser;
    CString strPassword;  // never stored
    CString strDatabase;
};

// The child's command line for a connection, as the view starts it ("orva --type ..." with the
// options in order and every backslash doubled). The password is not part of it: it travels in
// the environment variable ORVANTA_PASSWORD, so it never shows in a process listing.
CString BuildCommandLine(const CONNECT_PARAMS& params, const CString& program = L"orva");

// The program to start as the child: `orva` beside this program, else the one found in PATH, else
// the one of the build tree; "orva" when none is found.
CString FindChildProgram();

class CCommandEdit;

// The pipe to the child. The reader thread hands output to the view through a bounded queue: it
// appends each chunk and blocks while more than a limit is waiting, so a slow view throttles the
// child; the view takes everything that has gathered in one go, so many small chunks cost one
// update of the window.
class CRedir : public zentra::CPipe {
public:
    explicit CRedir(CCommandEdit* target) : m_pTarget(target) {}
    ~CRedir() override;

    // Before Start: the reader may deliver again.
    void Reset();
    // Lets a blocked reader go on without waiting for the view, and waits for it to end.
    void Detach();

    struct Pending {
        QString text;
        bool idleAfterText = false;  // the pipe was found idle after the last text
        bool terminated = false;
        bool more = false;  // text is still waiting
    };
    // Takes what the reader has gathered (on the view's thread); at most `maxChars` of text. When
    // `more` is set the caller asks for the rest itself (the reader does not notify again).
    Pending Take(int maxChars);
    // Whether text waits to be taken.
    bool HasPending() const;

    static constexpr int kQueueLimit = 256 * 1024;  // characters waiting before the reader blocks

protected:
    void OnIdle() override;
    void OnReadData(const wchar_t* text, int length) override;
    void OnTerminate() override;

private:
    void Notify();  // asks the view to take the queue (once until it has taken it)

    CCommandEdit* m_pTarget;
    mutable std::mutex m_mutex;
    std::condition_variable m_drained;
    QString m_queue;
    bool m_idleAfterText = false;
    bool m_idleSent = false;
    bool m_terminated = false;
    bool m_notified = false;
    bool m_detached = false;
};

// The input region and the editing keys of the console view, with the history.
class CPromptEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CPromptEdit(QWidget* parent = nullptr);

    void CaptureInput();
    void ClearInput();

    int IsInputStarted() const { return m_bInputStarted; }
    long GetInputStart() const { return m_nInputStart; }
    const CString& GetInput() const { return m_strInput; }
    CCommandBuffer& GetHistory() { return m_History; }

    // Read-only as the view decides (output arriving, or no child).
    virtual bool IsConsoleReadOnly() const { return false; }

    // The text between two positions, with the pieces of a folded line joined again.
    QString TextBetween(long from, long to) const;
    // The lines the view holds: its blocks and the line separators inside them.
    qint64 LineCount() const { return document()->blockCount() + m_nLineSeparators; }

    // Output lines longer than this many characters are folded into several blocks.
    static constexpr int kFoldLength = 2048;
    // Complete output lines share a block, up to this many, parted by a line separator (U+2028):
    // every block costs the document about 140 bytes of records beside its text, more than a
    // typical line of a result holds. The last line of the view is always a block of its own.
    static constexpr int kLinesPerBlock = 8;
    static constexpr char16_t kLineSeparator = 0x2028;
    // The user state of a block that continues the line of the block before it.
    static constexpr int kContinuedBlock = 1;

    // Page Up, Page Down, Ctrl+Home and Ctrl+End scroll the output; Ctrl+C with a selection copies.
    static bool IsScrollKey(const QKeyEvent* event);
    bool IsCopyKey(const QKeyEvent* event) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Handles a key after the input-region rules; returns true when it consumed the key.
    virtual bool OnKeyDown(QKeyEvent* event);
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    void contextMenuEvent(QContextMenuEvent* event) override;

    long EndPosition() const;
    bool EditInput(QKeyEvent* event);
    void StartInputAtEnd();
    // Inserts text at the end of the document without touching the user's caret.
    void AppendAtEnd(const QString& text);
    // Where inserted text may go: from the input start, or the end when no input is open.
    long InsertLimit() const;

    int m_bInputStarted = 0;
    long m_nInputStart = 0;
    CString m_strInput;
    CCommandBuffer m_History;
    qint64 m_nLineSeparators = 0;  // line separators in the document (only output has them)
};

class CFindDialog;

// The console view: shows the child's output, sends typed lines to it, and carries the commands.
class CCommandEdit : public CPromptEdit {
    Q_OBJECT
public:
    explicit CCommandEdit(QWidget* parent = nullptr);
    ~CCommandEdit() override;

    bool IsConsoleReadOnly() const override;
    int IsChildRunning() const { return m_Redir.IsRunning(); }
    int IsBusy() const { return m_bBusy; }
    CRedir& GetRedir() { return m_Redir; }

    // The commands, each doing nothing when it is disabled.
    void OnConnect();
    void OnDisconnect();
    void OnFind();
    void OnFindNext();
    void OnOpenScript();
    void OnAutoWrap() { SetAutoWrap(!m_bAutoWrap); }
    void OnCopy();
    void OnPaste();
    void OnClear();

    bool CanConnect() const;
    bool CanDisconnect() const;
    bool CanCopy() const;
    bool CanPaste() const;
    bool CanClear() const;  // also Find and Find Next

    // Starts the child for these parameters (what Connect does after its dialog's OK).
    int StartChild(const CONNECT_PARAMS& params);
    const CONNECT_PARAMS& GetConnectParams() const { return m_ConnectParams; }

    // Searches forward from the end of the selection; 1 when a match was found and selected.
    int FindText(int flags, const QString& text);
    void SetAutoWrap(int wrap);
    int GetAutoWrap() const { return m_bAutoWrap; }
    CFindDialog* GetFindDialog() const { return m_pFindDialog; }
    const QString& GetFindString() const { return m_strFind; }

    // The link under a point of the viewport, or "".
    QString LinkAt(const QPoint& pos) const;

    // Called by the find dialog.
    void OnFindNotify(bool closing, const QString& text, int flags);

    // The scroll-back limit in lines: the oldest lines beyond it are dropped. Stored.
    int GetScrollBack() const { return m_nScrollBack; }
    void SetScrollBack(int lines);
    static int StoredScrollBack();
    static constexpr int kDefaultScrollBack = 1000000;
    static constexpr int kMinScrollBack = 1000;

    // Keys typed while output arrives, waiting for the prompt.
    int TypeAheadCount() const { return static_cast<int>(m_TypeAhead.size()); }
    static bool IsInterruptKey(const QKeyEvent* event);

    // Appends the child's output: folded, with links marked and wide characters on the grid.
    void AppendOutput(const QString& text);

    // What the view's text store holds. The text itself takes two bytes a character; each line
    // adds its block and fragment records; a line's layout (its glyphs and line breaks, several
    // hundred bytes) is kept only while the line is in sight, and made again when it comes back.
    struct StoreFigures {
        qint64 textBytes = 0;    // the document's text buffer in use
        qint64 bufferBytes = 0;  // the same buffer as allocated
        int blocks = 0;
        int laidOutBlocks = 0;  // blocks holding a layout
    };
    StoreFigures GetStoreFigures() const;
    // Frees the layouts of the lines laid out since the last call that are now out of sight; the
    // view does it on its own shortly after output or scrolling.
    void ReleaseLayouts();

    static constexpr int kFindMatchCase = 4;
    static constexpr int kFindWholeWord = 2;
    static constexpr int kFindDown = 1;

signals:
    void stateChanged();  // a child started or ended, output arrived or paused
    void childEnded();

public slots:
    void TakeOutput();  // the reader has queued output or an event

protected:
    bool OnKeyDown(QKeyEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class CRedir;
    // The first and the last block in sight.
    std::pair<QTextBlock, QTextBlock> VisibleBlocks() const;
    void UpdateReadOnly();
    void InsertLineBreak(const QString& text);
    void ShowFinished();
    // Drops the oldest lines beyond the scroll-back limit, when there are at least `least`.
    void TrimScrollBack(qint64 least);
    // Sets the line count of the blocks from this one on that are not laid out.
    void CountLines(QTextBlock block);
    void Decorate(long from);
    void AppendChunk(QString text);
    // What a character needs added to its advance to take exactly `cells` cells.
    qreal CellSpacing(char32_t code, const QString& character, int cells);
    bool EndsWithNewline() const;
    bool IsTypeAheadKey(const QKeyEvent* event) const;
    void ReplayTypeAhead();

    struct QueuedKey {
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
    };

    CRedir m_Redir;
    CONNECT_PARAMS m_ConnectParams;
    QPointer<CFindDialog> m_pFindDialog;
    int m_nFindFlags = 0;
    QString m_strFind;
    int m_bBusy = 0;
    int m_bAutoWrap = 1;
    bool m_bTaking = false;
    bool m_bReplaying = false;
    int m_nTakeSize = 64 * 1024;  // characters taken from the reader at a time
    int m_nScrollBack = kDefaultScrollBack;
    std::deque<QueuedKey> m_TypeAhead;
    QFont m_WideFont;
    QHash<char32_t, qreal> m_WideSpacing;
    // The blocks that may hold a layout: those painted, and those output went to, since the last
    // release. Cursors, so that they follow the oldest lines being dropped.
    QTextCursor m_PaintedFrom, m_PaintedTo, m_AppendedFrom;
    bool m_bPainted = false;
    bool m_bAppended = false;
    bool m_bRelaidOut = false;
    QElapsedTimer m_DoubleClicked;  // since the last double click, for a triple click
    QPoint m_DoubleClickPos;        // the document laid out every block again (a new width or wrap mode)
    QTimer m_ReleaseTimer;
    QTimer m_PromptTimer;  // output stopped inside a line: a prompt once it fires
    bool m_bPromptSettled = false;
    qint64 m_nTakenSinceTrim = 0;  // characters of output since memory was last given back
};

// The find dialog: find only, forward only, with match case and whole word.
class CFindDialog : public QDialog {
    Q_OBJECT
public:
    CFindDialog(CCommandEdit* view, const QString& text);

    QLineEdit* FindEdit() const { return m_pEdit; }
    QCheckBox* MatchCase() const { return m_pCase; }
    QCheckBox* WholeWord() const { return m_pWord; }
    QPushButton* FindNextButton() const { return m_pFind; }

protected:
    void done(int result) override;

private:
    CCommandEdit* m_pView;
    QLineEdit* m_pEdit;
    QCheckBox* m_pCase;
    QCheckBox* m_pWord;
    QPushButton* m_pFind;
};

// The connect dialog.
class CConnectDlg : public QDialog {
    Q_OBJECT
public:
    CConnectDlg(const CONNECT_PARAMS& params, QWidget* parent = nullptr);

    const CONNECT_PARAMS& GetParams() const { return m_Params; }

    QComboBox* TypeList() const { return m_pType; }
    QLineEdit* HostEdit() const { return m_pHost; }
    QLineEdit* PortEdit() const { return m_pPort; }
    QLineEdit* UserEdit() const { return m_pUser; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }
    QLineEdit* DatabaseEdit() const { return m_pDatabase; }
    QPushButton* BrowseButton() const { return m_pBrowse; }

    // Selects the list item of a type id; false when the list has none.
    bool SelectType(std::uint32_t type);

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTypeChange();
    void OnBrowse();
    void StepPort(int step);  // the port up or down by one, within 0 … 65535
    QWidget* CreatePortArrows();
    void LayOut(QWidget* portArrows);
    void FillTypes();

    CONNECT_PARAMS m_Params;
    QComboBox* m_pType;
    QLineEdit* m_pHost;
    QLineEdit* m_pPort;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
    QLineEdit* m_pDatabase;
    QPushButton* m_pBrowse;
};

// A label that opens its URL when clicked, coloured as a link, underlined under the mouse.
class CHyperLink : public QLabel {
    Q_OBJECT
public:
    explicit CHyperLink(QWidget* parent = nullptr);

    void SetURL(const QString& url);
    QString GetURL() const { return m_strURL; }
    int IsVisited() const { return m_bVisited; }

    // The message for a failed open, by the shell's error code.
    static QString ErrorText(int code);
    // Why a URL cannot be opened, or "" when nothing stands in its way that can be seen before
    // trying; `opened` says whether the attempt itself succeeded.
    static QString WhyNotOpened(const QUrl& url, bool opened);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void UpdateLook();

    QString m_strURL;
    int m_bOver = 0;
    int m_bVisited = 0;
};

// The About box.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* VersionLabel() const { return m_pVersion; }
    CHyperLink* Link() const { return m_pLink; }

    static QString VersionText();  // "3.0.0.1" from "3, 0, 0, 1"

private:
    QLabel* m_pVersion;
    CHyperLink* m_pLink;
};

// The main window: menu, accelerators, and the console view filling it.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `autoConnect`: open the connect dialog as soon as the event loop runs.
    explicit CMainFrame(bool autoConnect = true);

    CCommandEdit* View() const { return m_pView; }
    QAction* Action(unsigned id) const;

    // Sets each command's enabled state and Auto Wrap's check mark.
    void UpdateCommands();
    void OnAbout();
    void OnScrollBack();
    // Puts the window in the middle of its screen.
    void CenterOnScreen();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* AddCommand(QMenu* menu, const QString& text, unsigned id, const QKeySequence& keys);

    CCommandEdit* m_pView;
    QMap<unsigned, QAction*> m_Actions;
};

// The console's font: fixed pitch, with East Asian characters exactly two cells wide.
QFont ConsoleFont();
// The application's icon, drawn from its SVG.
QIcon AppIcon();
// The window title for a connection: "Orvanta — user@host/database (type)".
QString ConnectionTitle(const CONNECT_PARAMS& params);

// The page the About box links to: the installed README, else the source tree's.
QString HomePage();
// The settings key and value of the scroll-back limit.
extern const wchar_t* const kSettingKey;
extern const wchar_t* const kScrollBackValue;

}  // namespace worva
