#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <memory>
#include <string>

#include "zentra/unique_fd.h"
#include "zentra/codepage.h"
#include "zentra/pipe.h"

namespace zentra {

namespace {

using Word = std::atomic_ref<uint32_t>;
static_assert(Word::required_alignment <= alignof(uint32_t), "control words are naturally aligned");
static_assert(Word::is_always_lock_free, "control words need lock-free 32-bit atomics");

constexpr size_t kBlockSize = sizeof(SHARED_CONTROL_BLOCK);

SHARED_CONTROL_BLOCK* MapBlock(int fd) {
    void* p = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<SHARED_CONTROL_BLOCK*>(p);
}

void UnmapBlock(SHARED_CONTROL_BLOCK*& block) {
    if (block) munmap(block, kBlockSize);
    block = nullptr;
}

uint32_t RandomWord() {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
    struct timespec ts = {0, 0};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(ts.tv_nsec) ^ static_cast<uint32_t>(ts.tv_sec * 2654435761u);
}

std::string NamePrefix() { return "orvanta-" + std::to_string(geteuid()) + "-"; }

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

// Blocks this user's front ends made and never removed because they were killed: the name holds
// the owner's process id, and a block whose process is gone has no one left to use it.
void RemoveDeadBlocks() {
    std::unique_ptr<DIR, DirCloser> dir(::opendir("/dev/shm"));
    if (!dir) return;
    const std::string prefix = NamePrefix();
    while (dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string_view rest = name.substr(prefix.size());
        size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos || dash > 9) continue;
        long pid = 0;
        bool digits = true;
        for (char ch : rest.substr(0, dash)) {
            digits = digits && ch >= '0' && ch <= '9';
            pid = pid * 10 + (ch - '0');
        }
        if (!digits || pid <= 0 || pid == getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still there
        std::string shmName = "/" + std::string(name);
        UniqueFd fd(shm_open(shmName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0));
        struct stat st;
        if (fd.Get() >= 0 && fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
            shm_unlink(shmName.c_str());
    }
}

std::string MakeName() {
    static std::atomic<unsigned> serial{0};
    char hex[9];
    static const char digits[] = "0123456789abcdef";
    uint32_t r = RandomWord();
    for (int i = 7; i >= 0; --i, r >>= 4) hex[i] = digits[r & 15];
    hex[8] = '\0';
    return "/" + NamePrefix() + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1)) + "-" + hex;
}

}  // namespace

// ---- owner side ----

CControlBlock::~CControlBlock() { Close(); }

int CControlBlock::Create() {
    Close();
    RemoveDeadBlocks();
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = MakeName();
        const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0) {
            if (errno == EEXIST) continue;  // someone holds this name: take another
            return 0;
        }
        UniqueFd owner(fd);
        // The umask may have taken bits away; the block is exactly read/write for the owner.
        SHARED_CONTROL_BLOCK* block = nullptr;
        if (fchmod(fd, S_IRUSR | S_IWUSR) != 0 || ftruncate(fd, kBlockSize) != 0 || (block = MapBlock(fd)) == nullptr) {
            shm_unlink(name.c_str());
            return 0;
        }
        m_pBlock = block;
        m_name = std::move(name);
        return 1;
    }
    return 0;
}

void CControlBlock::Close() noexcept {
    UnmapBlock(m_pBlock);
    if (!m_name.empty()) shm_unlink(m_name.c_str());
    m_name.clear();
}

CString CControlBlock::GetName() const { return m_pBlock ? AsciiToWide(m_name) : CString(); }

void CControlBlock::Disconnect() {
    if (m_pBlock) Word(m_pBlock->dwCancelRequest).store(1, std::memory_order_release);
}

void CControlBlock::Abort() {
    if (m_pBlock) Word(m_pBlock->dwCtrlCRequest).store(1, std::memory_order_release);
}

void CControlBlock::KeyDown(int virtualKey) {
    if (!m_pBlock) return;
    // The code first, so that the child never sees the flag without it.
    Word(m_pBlock->dwVirtualKey).store(static_cast<uint32_t>(virtualKey), std::memory_order_release);
    Word(m_pBlock->dwKeyPending).store(1, std::memory_order_release);
}

// ---- child side ----

CControlLink::~CControlLink() { Close(); }

int CControlLink::Open(const wchar_t* name) {
    Close();
    if (!name) return 0;
    const std::string bytes = WideToMultiByte(name, CP_ACP);
    // One "/name" component, as the owner makes them.
    if (bytes.size() < 2 || bytes.size() > NAME_MAX || bytes[0] != '/' || bytes.find('/', 1) != std::string::npos ||
        bytes.find('\0') != std::string::npos)
        return 0;
    const int fd = shm_open(bytes.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return 0;
    UniqueFd owner(fd);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        st.st_size != static_cast<off_t>(kBlockSize))
        return 0;
    m_pBlock = MapBlock(fd);
    return m_pBlock != nullptr;
}

void CControlLink::Close() noexcept { UnmapBlock(m_pBlock); }

void CControlLink::ClearRequests() {
    if (!m_pBlock) return;
    Word(m_pBlock->dwCtrlCRequest).store(0, std::memory_order_release);
    Word(m_pBlock->dwCancelRequest).store(0, std::memory_order_release);
    Word(m_pBlock->dwKeyPending).store(0, std::memory_order_release);
}

CControlLink::Request CControlLink::TakeRequest(int* virtualKey) {
    if (!m_pBlock) return None;
    if (Word(m_pBlock->dwCtrlCRequest).exchange(0, std::memory_order_acq_rel) != 0) return CtrlC;
    if (Word(m_pBlock->dwCancelRequest).exchange(0, std::memory_order_acq_rel) != 0) return Cancel;
    if (Word(m_pBlock->dwKeyPending).exchange(0, std::memory_order_acq_rel) != 0) {
        const uint32_t key = Word(m_pBlock->dwVirtualKey).load(std::memory_order_acquire);
        if (virtualKey) *virtualKey = static_cast<int>(key);
        return Key;
    }
    return None;
}

}  // namespace zentra
