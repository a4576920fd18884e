// The input region of the console view: typed text, pasted and dropped text can only go behind
// the last output, and the editing keys stop at the input start.
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "worva.h"

namespace worva {

QFont ConsoleFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Tables with Chinese, Japanese or Korean text stay aligned only when a wide character is
    // exactly two cells. A font that holds both the narrow and the wide characters at those
    // widths keeps that at any size, as long as a cell is a whole number of pixels.
    const QString name = QLocale::system().name();
    const char* region = name.startsWith(QLatin1String("ja"))   ? "JP"
                         : name.startsWith(QLatin1String("ko")) ? "KR"
                         : name == QLatin1String("zh_TW")       ? "TC"
                         : name == QLatin1String("zh_HK")       ? "HK"
                                                                : "SC";
    const QString family = QStringLiteral("Noto Sans Mono CJK ") + QLatin1String(region);
    if (QFontDatabase::hasFamily(family)) {
        int pixels = font.pixelSize();
        if (pixels <= 0) pixels = QFontInfo(font).pixelSize();
        QFont wide(family);
        wide.setPixelSize(std::max(12, pixels + (pixels & 1)));  // an even height: whole cells
        font = wide;
    }
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

CPromptEdit::CPromptEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setUndoRedoEnabled(false);
    setFont(ConsoleFont());
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(false);
}

long CPromptEdit::EndPosition() const { return static_cast<long>(document()->characterCount()) - 1; }

void CPromptEdit::StartInputAtEnd() {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    m_nInputStart = cursor.position();
    m_bInputStarted = 1;
}

long CPromptEdit::InsertLimit() const { return m_bInputStarted ? m_nInputStart : EndPosition(); }

void CPromptEdit::AppendAtEnd(const QString& text) {
    // A line longer than kFoldLength goes on in a new block marked as its continuation: the
    // text layout handles one long block badly (each append lays the whole block out again),
    // while short blocks cost only what is on the screen. Complete lines share a block, parted
    // by line separators, up to kLinesPerBlock; the last newline of the text always starts a
    // block, so the line being written (the prompt, the input) is a block of its own. Copying
    // joins the pieces and turns the separators into newlines again.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    const QString last = cursor.block().text();
    const qsizetype lastSeparator = last.lastIndexOf(QChar(kLineSeparator));
    qsizetype lineLength = last.size() - (lastSeparator + 1);
    int linesInBlock = 1 + static_cast<int>(last.count(QChar(kLineSeparator)));
    const qsizetype lastNewline = text.lastIndexOf(QLatin1Char('\n'));
    QString piece;  // the text for the current block
    auto endBlock = [&](bool continued) {
        if (!piece.isEmpty()) cursor.insertText(piece);
        piece.clear();
        cursor.insertBlock();
        if (continued) cursor.block().setUserState(kContinuedBlock);
        linesInBlock = 1;
        lineLength = 0;
    };
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype newline = text.indexOf(QLatin1Char('\n'), i);
        const qsizetype lineEnd = newline < 0 ? text.size() : newline;
        while (lineEnd - i > kFoldLength - lineLength) {
            qsizetype cut = i + (kFoldLength - lineLength);
            if (cut > i && text.at(cut - 1).isHighSurrogate()) --cut;  // keep a pair together
            piece += QStringView(text).mid(i, cut - i);
            endBlock(true);
            i = cut;
        }
        piece += QStringView(text).mid(i, lineEnd - i);
        lineLength += lineEnd - i;
        if (newline < 0) break;
        if (newline != lastNewline && linesInBlock < kLinesPerBlock) {
            piece += QChar(kLineSeparator);
            ++m_nLineSeparators;
            ++linesInBlock;
            lineLength = 0;
        } else {
            endBlock(false);
        }
        i = newline + 1;
    }
    if (!piece.isEmpty()) cursor.insertText(piece);
    cursor.endEditBlock();
}

QString CPromptEdit::TextBetween(long from, long to) const {
    QString text;
    QTextBlock block = document()->findBlock(static_cast<int>(from));
    bool first = true;
    while (block.isValid() && block.position() <= to) {
        if (!first && block.userState() != kContinuedBlock) text += QLatin1Char('\n');
        first = false;
        const long start = std::max<long>(from, block.position()) - block.position();
        const long end = std::min<long>(to, block.position() + block.length() - 1) - block.position();
        if (end > start) text += block.text().mid(start, end - start);
        block = block.next();
    }
    return text.replace(QChar(kLineSeparator), QLatin1Char('\n'));
}

QMimeData* CPromptEdit::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto* mime = new QMimeData;
    mime->setText(TextBetween(cursor.selectionStart(), cursor.selectionEnd()));
    return mime;
}

namespace {

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

}  // namespace

void CPromptEdit::CaptureInput() {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    long end = cursor.position();
    if (end - m_nInputStart >= 1) {
        m_strInput = FromQString(TextBetween(m_nInputStart, end));
    } else {
        m_strInput.clear();
    }
    if (!m_strInput.empty()) m_History.Add(m_strInput.c_str(), 1);
}

void CPromptEdit::ClearInput() {
    if (!m_bInputStarted) return;
    QTextCursor cursor(document());
    cursor.setPosition(std::min(m_nInputStart, EndPosition()));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    setTextCursor(cursor);
    m_strInput.clear();
}

namespace {

// A scroll key (Page Up, Page Down, Home, End with their modifiers) on the scroll bar.
void Scroll(QScrollBar* bar, int key) {
    switch (key) {
    case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); break;
    default: bar->triggerAction(QAbstractSlider::SliderToMaximum); break;
    }
}

}  // namespace

// The keys that edit the input region: false when the key must not reach the text edit (it would
// change or enter the output before the input).
bool CPromptEdit::EditInput(QKeyEvent* event) {
    const int key = event->key();
    QTextCursor cursor = textCursor();
    const long start = cursor.selectionStart();
    const long end = cursor.selectionEnd();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    bool passOn = true;
    switch (key) {
    case Qt::Key_Backspace:
        if (start - 1 < m_nInputStart) {
            passOn = false;
        } else if ((event->modifiers() & Qt::ControlModifier) && start == end) {
            // Deleting a word never reaches into the output.
            QTextCursor word = cursor;
            word.movePosition(QTextCursor::PreviousWord, QTextCursor::KeepAnchor);
            if (word.selectionStart() < m_nInputStart) {
                word.setPosition(start);
                word.setPosition(m_nInputStart, QTextCursor::KeepAnchor);
            }
            word.removeSelectedText();
            passOn = false;
        }
        break;
    case Qt::Key_Left:
        if (start - 1 < m_nInputStart) passOn = false;
        break;
    case Qt::Key_Escape:
        ClearInput();
        passOn = false;
        break;
    case Qt::Key_Home:
        if (shift) {
            cursor.setPosition(m_nInputStart);
            cursor.setPosition(start, QTextCursor::KeepAnchor);
        } else {
            cursor.setPosition(m_nInputStart);
        }
        setTextCursor(cursor);
        passOn = false;
        break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        CString text = key == Qt::Key_Up ? m_History.GetPrevCommand(1) : m_History.GetNextCommand(1);
        if (!text.empty()) {
            ClearInput();
            QTextCursor at = textCursor();
            at.insertText(ToQString(text));
            setTextCursor(at);
        }
        passOn = false;
        break;
    }
    default:
        if (start < m_nInputStart) {
            cursor.setPosition(m_nInputStart);
            cursor.setPosition(std::max(end, m_nInputStart), QTextCursor::KeepAnchor);
            setTextCursor(cursor);
        }
        break;
    }
    return passOn;
}

void CPromptEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
        key == Qt::Key_AltGr) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    if (IsScrollKey(event)) {
        // Scrolling moves neither the caret nor the input region.
        Scroll(verticalScrollBar(), key);
        event->accept();
        return;
    }
    if (IsCopyKey(event)) {
        copy();
        event->accept();
        return;
    }
    if (IsConsoleReadOnly()) {
        // Output is arriving or no child runs: the view's own keys (the interrupt) still work,
        // Enter is swallowed, and the rest only moves around in the text.
        if (OnKeyDown(event) || IsEnter(key)) {
            event->accept();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
        return;
    }

    if (!m_bInputStarted) StartInputAtEnd();
    if (IsEnter(key)) {
        CaptureInput();
        m_bInputStarted = 0;
    }

    const bool passOn = EditInput(event);
    if (passOn && m_bInputStarted) QPlainTextEdit::keyPressEvent(event);
    OnKeyDown(event);
    event->accept();
}

bool CPromptEdit::OnKeyDown(QKeyEvent*) { return false; }

bool CPromptEdit::IsScrollKey(const QKeyEvent* event) {
    const int key = event->key();
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) return mods == Qt::NoModifier;
    return (key == Qt::Key_Home || key == Qt::Key_End) && mods == Qt::ControlModifier;
}

bool CPromptEdit::IsCopyKey(const QKeyEvent* event) const {
    return event->key() == Qt::Key_C && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier &&
           textCursor().hasSelection();
}

bool CPromptEdit::canInsertFromMimeData(const QMimeData* source) const {
    return !IsConsoleReadOnly() && source->hasText();
}

void CPromptEdit::insertFromMimeData(const QMimeData* source) {
    // Paste, middle-click paste and drops all come here with the caret where the text would go.
    if (IsConsoleReadOnly() || !source->hasText()) return;
    QTextCursor cursor = textCursor();
    if (cursor.selectionStart() < InsertLimit()) return;
    if (!m_bInputStarted) {
        m_nInputStart = EndPosition();
        m_bInputStarted = 1;
    }
    // Lines beyond a scroll-back limit may go from the top: a cursor keeps the input start.
    QTextCursor inputStart(document());
    inputStart.setPosition(static_cast<int>(m_nInputStart));
    cursor.insertText(source->text());
    m_nInputStart = inputStart.position();
    setTextCursor(cursor);
}

void CPromptEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (IsConsoleReadOnly()) {
        event->ignore();
        return;
    }
    QPlainTextEdit::dragEnterEvent(event);
}

void CPromptEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (IsConsoleReadOnly() || cursorForPosition(event->position().toPoint()).position() < InsertLimit()) {
        event->ignore();
        return;
    }
    QPlainTextEdit::dragMoveEvent(event);
}

void CPromptEdit::dropEvent(QDropEvent* event) {
    if (IsConsoleReadOnly() || cursorForPosition(event->position().toPoint()).position() < InsertLimit()) {
        event->ignore();
        return;
    }
    // A drag out of this view copies: moving would delete the dragged text, output included.
    if (event->source() == this || event->source() == viewport()) event->setDropAction(Qt::CopyAction);
    QPlainTextEdit::dropEvent(event);
}

void CPromptEdit::contextMenuEvent(QContextMenuEvent* event) {
    // Only the commands that respect the input region.
    QMenu menu(this);
    QAction* actCopy = menu.addAction(tr("&Copy"));
    actCopy->setEnabled(textCursor().hasSelection());
    QAction* actPaste = menu.addAction(tr("&Paste"));
    actPaste->setEnabled(!IsConsoleReadOnly() && canPaste());
    menu.addSeparator();
    QAction* all = menu.addAction(tr("Select &All"));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == actCopy) copy();
    else if (chosen == all) selectAll();
    else if (chosen == actPaste) {
        QTextCursor cursor = textCursor();
        if (cursor.selectionStart() >= InsertLimit() && cursor.selectionEnd() >= InsertLimit()) QPlainTextEdit::paste();
    }
}

}  // namespace worva
