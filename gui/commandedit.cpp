// The console view: the child's output, the lines sent to it, and the view's commands.
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

#include "worva.h"
#include "zentra/catalogue.h"
#include "zentra/codepage.h"
#include "zentra/strtable.h"
#include "zentra/format.h"
#include "zentra/settings.h"

namespace worva {

namespace {

// What a link in the output looks like: a scheme with "//", "www." or "mailto:", up to a blank, a
// quote, an angle bracket or a table border.
const QRegularExpression& LinkPattern() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(\b(?:(?:https?|ftp|file)://|www\.|mailto:)[^\s<>"'|]+)"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

bool MayHoldLink(const QString& text) {
    return text.contains(QLatin1String("://")) || text.contains(QLatin1String("www."), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("mailto:"), Qt::CaseInsensitive);
}

// The links of one line: start and length of each, trailing punctuation left out.
QList<QPair<int, int>> FindLinks(const QString& text) {
    QList<QPair<int, int>> links;
    if (!MayHoldLink(text)) return links;
    auto it = LinkPattern().globalMatch(text);
    while (it.hasNext()) {
        auto match = it.next();
        int length = match.capturedLength();
        while (length > 0 && QStringLiteral(".,;:!?)]}").contains(text.at(match.capturedStart() + length - 1)))
            --length;
        if (length > 0) links.append({static_cast<int>(match.capturedStart()), length});
    }
    return links;
}

// Shows the links of the output underlined in the link colour.
class CLinkHighlighter : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        const auto links = FindLinks(text);
        if (links.isEmpty()) return;
        QTextCharFormat format;
        format.setForeground(QColor(0, 0, 238));
        format.setFontUnderline(true);
        for (const auto& link : links) setFormat(link.first, link.second, format);
    }
};

QUrl LinkToUrl(const QString& link) {
    if (link.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + link);
    return QUrl(link);
}

// Characters the view takes from the reader per pass; more waits for the next pass, so the window
// repaints and handles input in between.
constexpr int kMaxTake = 128 * 1024;

}  // namespace

CString BuildCommandLine(const CONNECT_PARAMS& params, const CString& program) {
    CString key = L"dsn";
    for (const auto& row : zentra::g_ConnConfs) {
        if (static_cast<std::uint32_t>(row.nType) != params.nType) continue;
        CString first = row.strKey;
        size_t bar = first.find(L'|');
        if (bar != CString::npos) first.erase(bar);
        key = zentra::Trim(first);
    }
    // Each value is one double-quoted word whatever it holds: the four characters that a
    // backslash escapes between double quotes get one, so that no quote, blank or leading dash
    // in a value can end the word or start another option.
    auto quote = [](const CString& value) {
        CString word = L"\"";
        for (wchar_t c : value) {
            if (c == L'"' || c == L'\\' || c == L'$' || c == L'`') word += L'\\';
            word += c;
        }
        return word + L"\"";
    };
    CString line = program.find_first_of(L" \t\n\"'\\$`") == CString::npos ? program : quote(program);
    line += zentra::Format(L" --type %s", key);
    if (!params.strHost.empty()) line += L" --host " + quote(params.strHost);
    if (params.nPort > 0) line += zentra::Format(L" --port %d", params.nPort);
    if (!params.strUser.empty()) line += L" --user " + quote(params.strUser);
    if (!params.strDatabase.empty()) line += L" --database " + quote(params.strDatabase);
    return line;
}

CString FindChildProgram() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/orva");
    QFileInfo besideInfo(beside);
    if (besideInfo.isFile() && besideInfo.isExecutable()) return FromQString(beside);
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("orva"));
    if (!inPath.isEmpty()) return FromQString(inPath);
#ifdef ORVANTA_BUILD_ORVA
    QFileInfo built(QStringLiteral(ORVANTA_BUILD_ORVA));
    if (built.isFile() && built.isExecutable()) return FromQString(built.absoluteFilePath());
#endif
    return L"orva";
}

CCommandEdit::CCommandEdit(QWidget* parent) : CPromptEdit(parent), m_Redir(this) {
    new CLinkHighlighter(document());
    viewport()->setMouseTracking(true);
    SetAutoWrap(zentra::CSetting().GetAutoWrap());
    UpdateReadOnly();
}

CCommandEdit::~CCommandEdit() {
    delete m_pFindDialog.data();
    // Ends a running child at once and lets the reader thread finish before the view goes away.
    m_Redir.Detach();
}

bool CCommandEdit::IsConsoleReadOnly() const { return m_bBusy || !m_Redir.IsRunning(); }

void CCommandEdit::UpdateReadOnly() {
    const bool readOnly = IsConsoleReadOnly();
    if (isReadOnly() != readOnly) setReadOnly(readOnly);
}

void CCommandEdit::TakeOutput() {
    if (m_bTaking) return;
    m_bTaking = true;
    CRedir::Pending pending = m_Redir.Take(kMaxTake);
    if (!pending.text.isEmpty()) {
        m_bBusy = 1;
        pending.text.remove(QLatin1Char('\r'));
        AppendAtEnd(pending.text);
        QTextCursor cursor = textCursor();
        cursor.movePosition(QTextCursor::End);
        setTextCursor(cursor);
        m_bInputStarted = 0;
    }
    if (pending.idleAfterText || pending.terminated) m_bBusy = 0;
    m_bTaking = false;
    UpdateReadOnly();
    emit stateChanged();
    if (pending.terminated) emit childEnded();
}

void CCommandEdit::InsertLineBreak(const QString& text) {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    setTextCursor(cursor);
}

bool CCommandEdit::OnKeyDown(QKeyEvent* event) {
    const int key = event->key();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !IsConsoleReadOnly()) {
        InsertLineBreak(QStringLiteral("\n"));
        m_Redir.WriteData(m_strInput + L"\r\n");
        return true;
    }
    if (key == Qt::Key_Cancel || (key == Qt::Key_Pause && ctrl) || (key == Qt::Key_C && ctrl)) {
        m_Redir.Abort();
        return true;
    }
    return false;
}

bool CCommandEdit::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // The window's accelerators win over the editor's own bindings of the same keys.
        auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        static const QKeySequence accelerators[] = {
            QKeySequence(Qt::CTRL | Qt::Key_F),       QKeySequence(Qt::CTRL | Qt::Key_O),
            QKeySequence(Qt::SHIFT | Qt::Key_Delete), QKeySequence(Qt::Key_F3),
            QKeySequence(Qt::CTRL | Qt::Key_Insert),  QKeySequence(Qt::SHIFT | Qt::Key_Insert),
            QKeySequence(Qt::ALT | Qt::Key_W)};
        for (const auto& accelerator : accelerators) {
            if (pressed == accelerator) {
                event->ignore();
                return true;
            }
        }
        UpdateReadOnly();
        break;
    }
    case QEvent::KeyPress:
    case QEvent::InputMethod:
        UpdateReadOnly();
        break;
    default:
        break;
    }
    return CPromptEdit::event(event);
}

QString CCommandEdit::LinkAt(const QPoint& pos) const {
    QTextCursor cursor = cursorForPosition(pos);
    const QTextBlock block = cursor.block();
    const int column = cursor.position() - block.position();
    // The caret position next to the last character still counts when the point is on it.
    const QRect caret = cursorRect(cursor);
    const bool leftOfCaret = pos.x() < caret.left();
    for (const auto& link : FindLinks(block.text())) {
        const int first = link.first, last = link.first + link.second;
        if (column > first && column < last) return block.text().mid(first, link.second);
        if (column == first && !leftOfCaret) return block.text().mid(first, link.second);
        if (column == last && leftOfCaret) return block.text().mid(first, link.second);
    }
    return QString();
}

void CCommandEdit::mouseReleaseEvent(QMouseEvent* event) {
    CPromptEdit::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || textCursor().hasSelection()) return;
    const QString link = LinkAt(event->position().toPoint());
    if (!link.isEmpty()) QDesktopServices::openUrl(LinkToUrl(link));
}

void CCommandEdit::mouseMoveEvent(QMouseEvent* event) {
    CPromptEdit::mouseMoveEvent(event);
    const bool overLink = event->buttons() == Qt::NoButton && !LinkAt(event->position().toPoint()).isEmpty();
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
}

// ----- enabling rules

bool CCommandEdit::CanConnect() const { return !m_Redir.IsRunning(); }
bool CCommandEdit::CanDisconnect() const { return m_Redir.IsRunning(); }
bool CCommandEdit::CanCopy() const { return textCursor().hasSelection(); }
bool CCommandEdit::CanPaste() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText() && m_Redir.IsRunning();
}
bool CCommandEdit::CanClear() const { return !document()->isEmpty(); }

// ----- Connect and Disconnect

void CCommandEdit::OnConnect() {
    if (m_Redir.IsRunning()) {
        OnDisconnect();
        // The child's output keeps flowing while we wait; a child that does not leave within
        // ten seconds is ended.
        QElapsedTimer waited;
        waited.start();
        while (m_Redir.IsRunning()) {
            if (waited.elapsed() > 10000) m_Redir.Stop();
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    CConnectDlg dialog(m_ConnectParams, window());
    if (dialog.exec() != QDialog::Accepted) return;
    m_ConnectParams = dialog.GetParams();
    StartChild(m_ConnectParams);
}

int CCommandEdit::StartChild(const CONNECT_PARAMS& params) {
    // The previous child's reader has finished; whatever it left is shown before the new one.
    m_Redir.Detach();
    while (true) {
        CRedir::Pending pending = m_Redir.Take(kMaxTake);
        if (pending.text.isEmpty()) break;
        pending.text.remove(QLatin1Char('\r'));
        AppendAtEnd(pending.text);
    }
    m_Redir.Reset();
    m_bBusy = 0;

    const CString line = BuildCommandLine(params, FindChildProgram());
    // The password goes to the child in its environment, never on its command line; the child
    // removes it from its own environment at once, and it is removed here right after the start.
    if (!params.strPassword.empty())
        setenv("ORVANTA_PASSWORD", zentra::WideToMultiByte(params.strPassword).c_str(), 1);
    else
        unsetenv("ORVANTA_PASSWORD");
    const int started = m_Redir.Start(line.c_str());
    unsetenv("ORVANTA_PASSWORD");
    UpdateReadOnly();
    emit stateChanged();
    return started;
}

void CCommandEdit::OnDisconnect() {
    m_Redir.Disconnect();
    if (!m_Redir.IsRunning()) return;
    InsertLineBreak(QStringLiteral("\n"));
    m_Redir.WriteData(L"exit\r\n");
}

// ----- Edit commands

void CCommandEdit::OnCopy() {
    if (CanCopy()) copy();
}

void CCommandEdit::OnPaste() {
    if (!CanPaste()) return;
    const QTextCursor cursor = textCursor();
    if (cursor.selectionStart() < m_nInputStart || cursor.selectionEnd() < m_nInputStart) return;
    if (!m_bInputStarted) StartInputAtEnd();
    paste();
}

void CCommandEdit::OnClear() {
    if (!CanClear()) return;
    setPlainText(QString());
    m_bInputStarted = 0;
    m_Redir.WriteData(L"\r\n");
}

// ----- Find, Open Script, Auto Wrap

int CCommandEdit::FindText(int flags, const QString& text) {
    if (text.isEmpty()) return 0;
    QTextCursor from(document());
    from.setPosition(textCursor().selectionEnd());
    QTextDocument::FindFlags options;
    if (flags & kFindMatchCase) options |= QTextDocument::FindCaseSensitively;
    if (flags & kFindWholeWord) options |= QTextDocument::FindWholeWords;
    const QTextCursor found = document()->find(text, from, options);
    if (found.isNull()) return 0;
    setTextCursor(found);
    ensureCursorVisible();
    return 1;
}

void CCommandEdit::ShowFinished() {
    QMessageBox::information(this, LoadQString(AFX_IDS_APP_TITLE), LoadQString(IDS_FIND_FINISHED));
}

void CCommandEdit::OnFind() {
    if (!CanClear() || m_pFindDialog) return;
    m_pFindDialog = new CFindDialog(this, m_strFind);
    m_pFindDialog->show();
}

void CCommandEdit::OnFindNotify(bool closing, const QString& text, int flags) {
    if (closing) {
        m_pFindDialog = nullptr;
        return;
    }
    m_strFind = text;
    m_nFindFlags = flags;
    if (!FindText(m_nFindFlags, m_strFind)) ShowFinished();
}

void CCommandEdit::OnFindNext() {
    if (!CanClear()) return;
    if (m_strFind.isEmpty()) {
        OnFind();
        return;
    }
    if (!FindText(m_nFindFlags, m_strFind)) ShowFinished();
}

void CCommandEdit::OnOpenScript() {
    if (!m_Redir.IsRunning()) return;
    QFileDialog dialog(this, tr("Open"));
    dialog.setObjectName(QStringLiteral("OpenScriptDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(FilterToNameFilters(zentra::LoadString(IDS_SQL_SCRIPT_FILTER) +
                                              zentra::LoadString(IDS_ALL_FILES_FILTER)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().first();
    ClearInput();
    InsertLineBreak(QStringLiteral("\n"));
    m_Redir.WriteData(L"@ \"" + FromQString(path) + L"\r\n");
}

void CCommandEdit::SetAutoWrap(int wrap) {
    m_bAutoWrap = wrap ? 1 : 0;
    setLineWrapMode(m_bAutoWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    zentra::CSetting().SetAutoWrap(m_bAutoWrap);
    emit stateChanged();
}

// ----- the find dialog

CFindDialog::CFindDialog(CCommandEdit* view, const QString& text) : QDialog(view), m_pView(view) {
    setWindowTitle(tr("Find"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    auto* label = new QLabel(tr("Fi&nd what:"), this);
    m_pEdit = new QLineEdit(text, this);
    label->setBuddy(m_pEdit);
    m_pWord = new QCheckBox(tr("Match &whole word only"), this);
    m_pCase = new QCheckBox(tr("Match &case"), this);
    m_pFind = new QPushButton(tr("&Find Next"), this);
    m_pFind->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_pEdit, 0, 1);
    grid->addWidget(m_pFind, 0, 2);
    grid->addWidget(m_pWord, 1, 0, 1, 2);
    grid->addWidget(cancel, 1, 2);
    grid->addWidget(m_pCase, 2, 0, 1, 2);
    m_pFind->setEnabled(!text.isEmpty());
    connect(m_pEdit, &QLineEdit::textChanged, this, [this](const QString& t) { m_pFind->setEnabled(!t.isEmpty()); });
    connect(m_pFind, &QPushButton::clicked, this, [this] {
        // The dialog has no direction buttons; its direction is down.
        int flags = CCommandEdit::kFindDown;
        if (m_pCase->isChecked()) flags |= CCommandEdit::kFindMatchCase;
        if (m_pWord->isChecked()) flags |= CCommandEdit::kFindWholeWord;
        m_pView->OnFindNotify(false, m_pEdit->text(), flags);
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CFindDialog::done(int result) {
    if (m_pView) m_pView->OnFindNotify(true, QString(), 0);
    QDialog::done(result);
}

}  // namespace worva
