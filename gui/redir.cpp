// The pipe to the child: carries its output from the reader thread to the view.
#include <QMetaObject>

#include "worva.h"

namespace worva {

CRedir::~CRedir() { Detach(); }

void CRedir::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    m_idleAfterText = false;
    m_terminated = false;
    m_notified = false;
    m_detached = false;
    m_idleSent = false;
}

void CRedir::Detach() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_detached = true;
    }
    m_drained.notify_all();
    Close();
}

void CRedir::Notify() {
    // Called with the mutex held: one notification until the view has taken the queue.
    if (m_notified || m_detached) return;
    m_notified = true;
    QMetaObject::invokeMethod(m_pTarget, "TakeOutput", Qt::QueuedConnection);
}

void CRedir::OnIdle() {
    CPipe::OnIdle();
    std::lock_guard<std::mutex> lock(m_mutex);
    // Reported once after each stretch of output: the view stops being busy.
    if (m_idleSent) return;
    m_idleSent = true;
    m_idleAfterText = true;
    Notify();
}

void CRedir::OnReadData(const wchar_t* text, int length) {
    CPipe::OnReadData(text, length);
    std::unique_lock<std::mutex> lock(m_mutex);
    // A slow view throttles the child: wait while too much is waiting.
    m_drained.wait(lock, [this] { return m_detached || m_queue.size() < kQueueLimit; });
    if (m_detached) return;
    m_queue.append(QString::fromWCharArray(text, length));
    m_idleAfterText = false;
    m_idleSent = false;
    Notify();
}

void CRedir::OnTerminate() {
    CPipe::OnTerminate();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_terminated = true;
    Notify();
}

bool CRedir::HasPending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_queue.isEmpty();
}

CRedir::Pending CRedir::Take(int maxChars) {
    Pending pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() <= maxChars) {
            pending.text.swap(m_queue);
            pending.idleAfterText = m_idleAfterText;
            pending.terminated = m_terminated;
            m_idleAfterText = false;
            m_terminated = false;
            m_notified = false;
        } else {
            // Leave the rest for the next pass, so that the window repaints and takes input
            // in between.
            int cut = maxChars;
            // Keep a surrogate pair together.
            if (cut > 0 && m_queue.at(cut - 1).isHighSurrogate()) --cut;
            pending.text = m_queue.left(cut);
            m_queue.remove(0, cut);
            // The view asks for the rest itself; until then the reader need not ask again.
            pending.more = true;
            m_notified = true;
        }
    }
    m_drained.notify_all();
    return pending;
}

}  // namespace worva
