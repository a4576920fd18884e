// The input region of the console view: typed text, pasted and dropped text can only go behind
// the last output, and the editing keys stop at the input start.
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

#include "worva.h"

namespace worva {

CPromptEdit::CPromptEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setUndoRedoEnabled(false);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(false);
}

long CPromptEdit::EndPosition() const {
    return static_cast<long>(document()->characterCount()) - 1;
}

void CPromptEdit::StartInputAtEnd() {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    m_nInputStart = cursor.position();
    m_bInputStarted = 1;
}

long CPromptEdit::InsertLimit() const { return m_bInputStarted ? m_nInputStart : EndPosition(); }

void CPromptEdit::AppendAtEnd(const QString& text) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

namespace {

QString SelectedPlainText(const QTextCursor& cursor) {
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

}  // namespace

void CPromptEdit::CaptureInput() {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    long end = cursor.position();
    if (end - m_nInputStart >= 1) {
        QTextCursor range(document());
        range.setPosition(m_nInputStart);
        range.setPosition(end, QTextCursor::KeepAnchor);
        m_strInput = FromQString(SelectedPlainText(range));
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

void CPromptEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
        key == Qt::Key_Meta || key == Qt::Key_AltGr) {
        QPlainTextEdit::keyPressEvent(event);
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
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
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
    if (passOn && m_bInputStarted) QPlainTextEdit::keyPressEvent(event);
    OnKeyDown(event);
    event->accept();
}

bool CPromptEdit::OnKeyDown(QKeyEvent*) { return false; }

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
    cursor.insertText(source->text());
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
    if (IsConsoleReadOnly() ||
        cursorForPosition(event->position().toPoint()).position() < InsertLimit()) {
        event->ignore();
        return;
    }
    QPlainTextEdit::dragMoveEvent(event);
}

void CPromptEdit::dropEvent(QDropEvent* event) {
    if (IsConsoleReadOnly() ||
        cursorForPosition(event->position().toPoint()).position() < InsertLimit()) {
        event->ignore();
        return;
    }
    // A drag out of this view copies: moving would delete the dragged text, output included.
    if (event->source() == this || event->source() == viewport())
        event->setDropAction(Qt::CopyAction);
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
        if (cursor.selectionStart() >= InsertLimit() && cursor.selectionEnd() >= InsertLimit())
            QPlainTextEdit::paste();
    }
}

}  // namespace worva
