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
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <QtGui/private/qtextdocument_p.h>

#include <cstdlib>

#include <malloc.h>

#include "worva.h"
#include "zentra/catalogue.h"
#include "zentra/codepage.h"
#include "zentra/strtable.h"
#include "zentra/format.h"
#include "zentra/settings.h"
#include "zentra/values.h"

namespace worva {

namespace {

// What a link in the output looks like: a scheme with "//", "www." or "mailto:", up to a blank, a
// quote, an angle bracket or a table border.
const QRegularExpression& LinkPattern() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(\b(?:(?:https?|ftp|file)://|www\.|mailto:)[^\s<>"'|\x{2028}]+)"),
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

QUrl LinkToUrl(const QString& link) {
    if (link.startsWith(QLatin1String("www."), Qt::CaseInsensitive)) return QUrl(QStringLiteral("http://") + link);
    return QUrl(link);
}

// Characters the view takes from the reader per pass; more waits for the next pass, so the window
// repaints and handles input in between.
constexpr int kMaxTake = 64 * 1024;
constexpr int kMinTake = 1024;
// Milliseconds a pass may spend on output before the window handles its other events.
constexpr int kPassMs = 25;
// Milliseconds after output or scrolling before the layouts of lines out of sight are freed.
constexpr int kReleaseDelayMs = 200;
// Characters of output after which the freed memory goes back to the system once the output pauses.
constexpr qint64 kTrimAfterChars = 1 << 20;
// Milliseconds output that stopped inside a line must stay stopped before it counts as a prompt:
// the pipe also runs dry for a moment between two pieces of one long result.
constexpr int kPromptSettleMs = 200;

// The layout slot of a block. QTextBlock::layout() makes a layout where there is none, and the
// document keeps every layout it made until the line goes; the slot lets the view see and free it.
QTextLayout*& LayoutSlot(const QTextBlock& block) {
    return QTextDocumentPrivate::get(block)->blockMap().fragment(block.fragmentIndex())->layout;
}

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
    viewport()->setMouseTracking(true);
    m_nScrollBack = StoredScrollBack();
    for (QTextCursor* cursor : {&m_PaintedFrom, &m_PaintedTo, &m_AppendedFrom}) {
        *cursor = QTextCursor(document());
        cursor->setKeepPositionOnInsert(true);
    }
    m_ReleaseTimer.setSingleShot(true);
    m_ReleaseTimer.setInterval(kReleaseDelayMs);
    connect(&m_ReleaseTimer, &QTimer::timeout, this, &CCommandEdit::ReleaseLayouts);
    m_PromptTimer.setSingleShot(true);
    m_PromptTimer.setInterval(kPromptSettleMs);
    connect(&m_PromptTimer, &QTimer::timeout, this, [this] {
        if (!m_bBusy || m_Redir.HasPending()) return;
        m_bPromptSettled = true;
        TakeOutput();
    });
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
    // Chunk after chunk until the pass has taken its share of time; the rest waits for the next
    // pass, so that the window repaints and answers keys in between.
    QElapsedTimer spent;
    spent.start();
    CRedir::Pending pending;
    bool tookText = false;
    do {
        // The chunk size adapts, so that one chunk stays within the pass's time whatever the
        // output costs (many short lines cost more per character, and more again once the
        // scroll-back limit drops old lines for each new one).
        QElapsedTimer chunk;
        chunk.start();
        pending = m_Redir.Take(m_nTakeSize);
        m_nTakenSinceTrim += pending.text.size();
        tookText = tookText || !pending.text.isEmpty();
        AppendChunk(pending.text);
        if (chunk.elapsed() > kPassMs) m_nTakeSize = std::max(kMinTake, m_nTakeSize / 2);
        else if (chunk.elapsed() < kPassMs / 4 && pending.more) m_nTakeSize = std::min(kMaxTake, m_nTakeSize * 2);
    } while (pending.more && spent.elapsed() < kPassMs);
    // The rest comes in a pass of its own, queued behind whatever arrived meanwhile (keys too).
    if (pending.more) QMetaObject::invokeMethod(this, "TakeOutput", Qt::QueuedConnection);
    // Output that stopped at the end of a line is done with for now (a slow result goes on
    // below it); one that stopped inside a line is a prompt only once it stays stopped.
    const bool settled = std::exchange(m_bPromptSettled, false) && !tookText;
    if (pending.terminated || settled || (pending.idleAfterText && EndsWithNewline())) m_bBusy = 0;
    else if (pending.idleAfterText) m_PromptTimer.start();
    m_bTaking = false;
    if (!m_bBusy) {
        QTextCursor inputStart(document());
        inputStart.setPosition(static_cast<int>(std::min(m_nInputStart, EndPosition())));
        TrimScrollBack(1);
        m_nInputStart = inputStart.position();
    }
    // Once a large output pauses, what it left free goes back to the system.
    if (!m_bBusy && m_nTakenSinceTrim > kTrimAfterChars) {
        ReleaseLayouts();
        malloc_trim(0);
        m_nTakenSinceTrim = 0;
    }
    UpdateReadOnly();
    if (pending.terminated) {
        m_TypeAhead.clear();
        AppendOutput(QStringLiteral("%1%2\n").arg(EndsWithNewline() ? QString() : QStringLiteral("\n"),
                                                  LoadQString(IDS_SESSION_ENDED)));
        QTextCursor cursor = textCursor();
        cursor.movePosition(QTextCursor::End);
        setTextCursor(cursor);
    }
    emit stateChanged();
    if (pending.terminated) emit childEnded();
    // Typed-ahead keys wait for a prompt: output that paused at the end of a line is more likely
    // a slow result than a child waiting for input.
    if (!m_bBusy && m_Redir.IsRunning() && !EndsWithNewline()) ReplayTypeAhead();
}

void CCommandEdit::AppendChunk(QString text) {
    if (text.isEmpty()) return;
    m_bBusy = 1;
    m_PromptTimer.stop();
    text.remove(QLatin1Char('\r'));
    // Input begun while the output had paused leaves the output's way: it goes back to the
    // type-ahead, in front of the keys typed after it, and comes back with the next prompt.
    if (m_bInputStarted && EndPosition() > m_nInputStart) {
        const QString typed = TextBetween(m_nInputStart, EndPosition());
        QTextCursor input(document());
        input.setPosition(static_cast<int>(m_nInputStart));
        input.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        input.removeSelectedText();
        m_TypeAhead.push_front({0, Qt::NoModifier, typed});
    }
    // The caret follows the output; the view follows it only when it showed the end, so a
    // user reading further up is not pulled down by every new line.
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int shown = bar->value();
    // The document drops the oldest lines beyond the scroll-back limit; a cursor at the input
    // start follows them.
    QTextCursor inputStart(document());
    inputStart.setPosition(static_cast<int>(std::min(m_nInputStart, EndPosition())));
    AppendOutput(text);
    m_nInputStart = inputStart.position();
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    if (!atEnd) bar->setValue(shown);
    m_bInputStarted = 0;
}

void CCommandEdit::AppendOutput(const QString& text) {
    const long from = EndPosition();
    // The lines the output changes are laid out as they change.
    if (!m_bAppended) {
        m_AppendedFrom.setPosition(static_cast<int>(from));
        m_bAppended = true;
    }
    AppendAtEnd(text);
    Decorate(from);
    CountLines(document()->findBlock(static_cast<int>(from)));
    // While output flows, the oldest lines go in batches: each removal makes the document
    // compact its whole text buffer. Once it pauses, the limit holds exactly.
    TrimScrollBack(m_bBusy ? std::max<qint64>(1, m_nScrollBack / 64) : 1);
    if (!m_ReleaseTimer.isActive()) m_ReleaseTimer.start();
}

void CCommandEdit::CountLines(QTextBlock block) {
    // A block of several lines counts them all in the scroll bar before it is laid out (the
    // document counts one line for a block it has not laid out yet).
    bool counted = false;
    for (; block.isValid(); block = block.next()) {
        const QTextLayout* layout = LayoutSlot(block);
        if (layout && layout->lineCount() > 0) continue;
        const int lines = 1 + static_cast<int>(block.text().count(QChar(kLineSeparator)));
        if (block.lineCount() >= lines || !block.isVisible()) continue;
        block.setLineCount(lines);
        counted = true;
    }
    if (counted) {
        QAbstractTextDocumentLayout* layout = document()->documentLayout();
        emit layout->documentSizeChanged(layout->documentSize());
    }
}

void CCommandEdit::resizeEvent(QResizeEvent* event) {
    // A new width lays every block out again, and the scroll bar then counts one line a block:
    // the lines of each block are counted again, and the line at the top stays there.
    const QTextBlock top = firstVisibleBlock();
    const int intoTop = top.isValid() ? verticalScrollBar()->value() - top.firstLineNumber() : 0;
    CPromptEdit::resizeEvent(event);
    if (m_bAutoWrap && event->size().width() != event->oldSize().width()) {
        CountLines(document()->begin());
        if (top.isValid())
            verticalScrollBar()->setValue(top.firstLineNumber() +
                                          std::clamp(intoTop, 0, std::max(0, top.lineCount() - 1)));
        m_bRelaidOut = true;
        if (!m_ReleaseTimer.isActive()) m_ReleaseTimer.start();
    }
}

void CCommandEdit::TrimScrollBack(qint64 least) {
    qint64 excess = LineCount() - m_nScrollBack;
    if (excess < least || excess <= 0) return;
    // The oldest whole blocks, then the first lines of the next one.
    int end = 0;
    qint64 separators = 0;
    for (QTextBlock block = document()->begin(); block.isValid() && block.next().isValid() && excess > 0;
         block = block.next()) {
        const QString text = block.text();
        const qint64 inBlock = text.count(QChar(kLineSeparator));
        if (inBlock + 1 <= excess) {
            excess -= inBlock + 1;
            separators += inBlock;
            end = block.next().position();
            continue;
        }
        qsizetype at = -1;
        for (qint64 i = 0; i < excess; ++i) at = text.indexOf(QChar(kLineSeparator), at + 1);
        end = block.position() + static_cast<int>(at) + 1;
        separators += excess;
        excess = 0;
    }
    if (end <= 0) return;
    QTextCursor cursor(document());
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_nLineSeparators -= separators;
}

std::pair<QTextBlock, QTextBlock> CCommandEdit::VisibleBlocks() const {
    const QTextBlock first = firstVisibleBlock();
    QTextBlock last = first;
    const QPointF offset = contentOffset();
    const int height = viewport()->height();
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        last = block;
        if (blockBoundingGeometry(block).translated(offset).bottom() >= height) break;
    }
    return {first, last};
}

void CCommandEdit::paintEvent(QPaintEvent* event) {
    CPromptEdit::paintEvent(event);
    // The lines painted hold layouts now; those that leave the sight have theirs freed.
    const auto [first, last] = VisibleBlocks();
    if (!first.isValid()) return;
    bool wider = false;
    if (!m_bPainted || first.position() < m_PaintedFrom.position()) {
        m_PaintedFrom.setPosition(first.position());
        wider = true;
    }
    if (!m_bPainted || last.position() > m_PaintedTo.position()) {
        m_PaintedTo.setPosition(last.position());
        wider = true;
    }
    m_bPainted = true;
    if (wider && !m_ReleaseTimer.isActive()) m_ReleaseTimer.start();
}

void CCommandEdit::ReleaseLayouts() {
    m_ReleaseTimer.stop();
    // The lines in sight keep their layouts, and so does the caret's line (it may hold the
    // text an input method is composing).
    const auto [first, last] = VisibleBlocks();
    const int keepFirst = first.isValid() ? first.blockNumber() : -1;
    const int keepLast = last.isValid() ? last.blockNumber() : -1;
    const int caret = textCursor().blockNumber();
    auto release = [&](QTextBlock block, int lastNumber) {
        for (int number = block.blockNumber(); block.isValid() && number <= lastNumber;
             block = block.next(), ++number) {
            if ((number >= keepFirst && number <= keepLast) || number == caret) continue;
            QTextLayout*& layout = LayoutSlot(block);
            delete layout;
            layout = nullptr;
        }
    };
    if (m_bPainted)
        release(document()->findBlock(m_PaintedFrom.position()),
                document()->findBlock(m_PaintedTo.position()).blockNumber());
    if (m_bAppended) release(document()->findBlock(m_AppendedFrom.position()), INT_MAX);
    m_bAppended = false;
    if (m_bRelaidOut) {
        // Laying out again gave every block a layout of its own and counted each as one line:
        // the layouts go, and a block of several lines counts them again.
        // The scroll bar counts lines: the line in sight at the top stays there.
        m_bRelaidOut = false;
        const QTextBlock top = firstVisibleBlock();
        const int intoTop = verticalScrollBar()->value() - (top.isValid() ? top.firstLineNumber() : 0);
        release(document()->begin(), INT_MAX);
        CountLines(document()->begin());
        if (top.isValid()) verticalScrollBar()->setValue(top.firstLineNumber() + std::max(0, intoTop));
    }
    m_bPainted = first.isValid();
    if (m_bPainted) {
        m_PaintedFrom.setPosition(first.position());
        m_PaintedTo.setPosition(last.position());
    }
}

CCommandEdit::StoreFigures CCommandEdit::GetStoreFigures() const {
    StoreFigures figures;
    const QTextDocumentPrivate* store = QTextDocumentPrivate::get(document());
    const QString& text = store->buffer();
    figures.textBytes = text.size() * qint64(sizeof(QChar));
    figures.bufferBytes = text.capacity() * qint64(sizeof(QChar));
    figures.blocks = document()->blockCount();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        if (LayoutSlot(block)) ++figures.laidOutBlocks;
    return figures;
}

void CCommandEdit::Decorate(long from) {
    // Links are underlined in the link colour. Characters beyond ASCII are put on the cell grid:
    // each is spaced to exactly its cells of the console font (two for East Asian wide ones),
    // whatever width the font that draws it gives it (a CJK font draws the ambiguous ü or Ø full
    // width), so that tables stay aligned. Only blocks that need it get a format, so plain
    // output costs nothing but the scan.
    QTextCursor cursor(document());
    bool editing = false;
    for (QTextBlock block = document()->findBlock(static_cast<int>(from)); block.isValid(); block = block.next()) {
        const QString text = block.text();
        const auto links = FindLinks(text);
        const bool wide = std::any_of(text.begin(), text.end(),
                                      [](QChar c) { return c.unicode() >= 0x80 && c.unicode() != kLineSeparator; });
        if (links.isEmpty() && !wide) continue;
        if (!editing) cursor.beginEditBlock();
        editing = true;
        auto apply = [&](qsizetype start, qsizetype length, const QTextCharFormat& format) {
            cursor.setPosition(block.position() + static_cast<int>(start));
            cursor.setPosition(block.position() + static_cast<int>(start + length), QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(format);
        };
        QTextCharFormat link;
        link.setForeground(QColor(0, 0, 238));
        link.setFontUnderline(true);
        for (const auto& range : links) apply(range.first, range.second, link);
        qsizetype runStart = -1;
        qreal runSpacing = 0;
        auto flush = [&](qsizetype end) {
            if (runStart >= 0 && runSpacing != 0) {
                QTextCharFormat spaced;
                spaced.setFontLetterSpacingType(QFont::AbsoluteSpacing);
                spaced.setFontLetterSpacing(runSpacing);
                apply(runStart, end - runStart, spaced);
            }
            runStart = -1;
        };
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            char32_t code = c.unicode();
            int units = 1;
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                code = QChar::surrogateToUcs4(c, text.at(i + 1));
                units = 2;
            }
            const int cells =
                code >= 0x80 && code != kLineSeparator ? zentra::CharDisplayWidth(static_cast<wchar_t>(code)) : 0;
            const qreal spacing = cells > 0 ? CellSpacing(code, text.mid(i, units), cells) : 0;
            if (spacing != 0) {
                if (runStart >= 0 && spacing != runSpacing) flush(i);
                if (runStart < 0) {
                    runStart = i;
                    runSpacing = spacing;
                }
            } else {
                flush(i);
            }
            i += units - 1;
        }
        flush(text.size());
    }
    if (editing) cursor.endEditBlock();
}

qreal CCommandEdit::CellSpacing(char32_t code, const QString& character, int cells) {
    if (font() != m_WideFont) {
        m_WideFont = font();
        m_WideSpacing.clear();
    }
    auto it = m_WideSpacing.find(code);
    if (it == m_WideSpacing.end()) {
        const QFontMetricsF metrics(m_WideFont);
        it = m_WideSpacing.insert(
            code, cells * metrics.horizontalAdvance(QLatin1Char('x')) - metrics.horizontalAdvance(character));
    }
    return *it;
}

bool CCommandEdit::EndsWithNewline() const {
    const long end = EndPosition();
    return end == 0 || document()->characterAt(static_cast<int>(end - 1)) == QChar::ParagraphSeparator;
}

void CCommandEdit::SetScrollBack(int lines) {
    m_nScrollBack = std::max(lines, kMinScrollBack);
    zentra::CSetting settings;
    if (settings.SetKey(kSettingKey, 1)) settings.WriteInt(kScrollBackValue, m_nScrollBack);
    QTextCursor inputStart(document());
    inputStart.setPosition(static_cast<int>(std::min(m_nInputStart, EndPosition())));
    TrimScrollBack(1);
    m_nInputStart = inputStart.position();
}

int CCommandEdit::StoredScrollBack() {
    zentra::CSetting settings;
    if (!settings.SetKey(kSettingKey, 0)) return kDefaultScrollBack;
    return std::max(settings.ReadInt(kScrollBackValue, kDefaultScrollBack), kMinScrollBack);
}

bool CCommandEdit::IsTypeAheadKey(const QKeyEvent* event) const {
    // Typing goes on while output arrives; the keys that act on the output or on the child act
    // at once instead.
    if (!m_bBusy || !m_Redir.IsRunning()) return false;
    if (IsInterruptKey(event) || IsScrollKey(event) || IsCopyKey(event)) return false;
    const int key = event->key();
    return key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt && key != Qt::Key_Meta &&
           key != Qt::Key_AltGr && key != Qt::Key_CapsLock && key != Qt::Key_NumLock && key != 0;
}

bool CCommandEdit::IsInterruptKey(const QKeyEvent* event) {
    // Ctrl+Break: X11 reports the Break key as Pause (with Ctrl held, or not at all when the
    // keyboard map turns Ctrl+Pause into Break) or as Cancel.
    const int key = event->key();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    constexpr quint32 kBreakKeysym = 0xff6b;
    return key == Qt::Key_Cancel || (key == Qt::Key_Pause && ctrl) || (key == Qt::Key_C && ctrl) ||
           (key == 0 && event->nativeVirtualKey() == kBreakKeysym);
}

void CCommandEdit::keyPressEvent(QKeyEvent* event) {
    // Output paused without a prompt, and the user types on: what was typed ahead goes first.
    if (!m_bReplaying && !m_bBusy && !m_TypeAhead.empty() && m_Redir.IsRunning() && !IsInterruptKey(event) &&
        !IsScrollKey(event))
        ReplayTypeAhead();
    if (IsTypeAheadKey(event)) {
        m_TypeAhead.push_back({event->key(), event->modifiers(), event->text()});
        event->accept();
        return;
    }
    CPromptEdit::keyPressEvent(event);
}

void CCommandEdit::ReplayTypeAhead() {
    if (m_bReplaying) return;
    const QScopedValueRollback<bool> replaying(m_bReplaying, true);
    while (!m_TypeAhead.empty() && !m_bBusy && m_Redir.IsRunning()) {
        const QueuedKey queued = m_TypeAhead.front();
        m_TypeAhead.pop_front();
        QKeyEvent event(QEvent::KeyPress, queued.key, queued.modifiers, queued.text);
        UpdateReadOnly();
        keyPressEvent(&event);
    }
}

void CCommandEdit::InsertLineBreak(const QString& text) {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    setTextCursor(cursor);
}

bool CCommandEdit::OnKeyDown(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !IsConsoleReadOnly()) {
        InsertLineBreak(QStringLiteral("\n"));
        m_Redir.WriteData(m_strInput + L"\r\n");
        // Until the child answers, further keys wait as type-ahead rather than start an input
        // region that the answer would turn into output.
        m_bBusy = 1;
        UpdateReadOnly();
        return true;
    }
    if (IsInterruptKey(event)) {
        // Like a terminal, an interrupt drops what was typed ahead.
        m_TypeAhead.clear();
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
    case QEvent::InputMethod: UpdateReadOnly(); break;
    default: break;
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

void CCommandEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    CPromptEdit::mouseDoubleClickEvent(event);
    m_DoubleClicked.start();
    m_DoubleClickPos = event->position().toPoint();
}

void CCommandEdit::mousePressEvent(QMouseEvent* event) {
    CPromptEdit::mousePressEvent(event);
    const bool triple =
        event->button() == Qt::LeftButton && m_DoubleClicked.isValid() &&
        m_DoubleClicked.elapsed() < QApplication::doubleClickInterval() &&
        (event->position().toPoint() - m_DoubleClickPos).manhattanLength() < QApplication::startDragDistance();
    m_DoubleClicked.invalidate();
    if (!triple) return;
    // A triple click selects the block, with its end; where lines share a block, the line.
    const QTextCursor at = cursorForPosition(event->position().toPoint());
    const QTextBlock block = at.block();
    const QString text = block.text();
    const int column = at.position() - block.position();
    const qsizetype start = column > 0 ? text.lastIndexOf(QChar(kLineSeparator), column - 1) + 1 : 0;
    const qsizetype end = text.indexOf(QChar(kLineSeparator), column);
    if (start == 0 && end < 0) return;
    QTextCursor line(document());
    line.setPosition(block.position() + static_cast<int>(start));
    line.setPosition(end < 0 ? std::min(block.position() + block.length(), static_cast<int>(EndPosition()))
                             : block.position() + static_cast<int>(end) + 1,
                     QTextCursor::KeepAnchor);
    setTextCursor(line);
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
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    return mime && mime->hasText() && m_Redir.IsRunning();
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
        AppendOutput(pending.text);
    }
    m_Redir.Reset();
    m_bBusy = 0;
    m_TypeAhead.clear();
    m_ConnectParams = params;

    const CString line = BuildCommandLine(params, FindChildProgram());
    // The password goes to the child in its environment, never on its command line; the child
    // removes it from its own environment at once, and it is removed here right after the start.
    if (!params.strPassword.empty()) setenv("ORVANTA_PASSWORD", zentra::WideToMultiByte(params.strPassword).c_str(), 1);
    else unsetenv("ORVANTA_PASSWORD");
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
    m_nInputStart = 0;
    m_bPainted = m_bAppended = false;
    m_nLineSeparators = 0;
    m_ReleaseTimer.stop();
    m_nTakenSinceTrim = 0;
    // The freed text goes back to the system, not only to the allocator's free lists.
    malloc_trim(0);
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
    dialog.setNameFilters(
        FilterToNameFilters(zentra::LoadString(IDS_SQL_SCRIPT_FILTER) + zentra::LoadString(IDS_ALL_FILES_FILTER)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().first();
    ClearInput();
    InsertLineBreak(QStringLiteral("\n"));
    m_Redir.WriteData(L"@ \"" + FromQString(path) + L"\r\n");
}

void CCommandEdit::SetAutoWrap(int wrap) {
    m_bAutoWrap = wrap ? 1 : 0;
    setLineWrapMode(m_bAutoWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    m_bRelaidOut = true;
    if (!m_ReleaseTimer.isActive()) m_ReleaseTimer.start();
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
