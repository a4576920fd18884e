// Starting child processes with posix_spawn: the attributes and descriptor actions that every
// child of this system gets, each owned by a small RAII object.
#pragma once

#include <spawn.h>

namespace zentra {

// No blocked signals and default dispositions for the signals a program may block (for its
// signal thread) or ignore, so that Ctrl+C and its kin reach the child. With `newSession` the
// child leads a session of its own, so that a signal for its process group reaches it and its own
// children only; without it the child stays in the caller's process group (and can use the
// terminal).
class CSpawnAttributes {
public:
    explicit CSpawnAttributes(bool newSession);
    ~CSpawnAttributes();
    CSpawnAttributes(const CSpawnAttributes&) = delete;
    CSpawnAttributes& operator=(const CSpawnAttributes&) = delete;

    // 0, or the error number of the failed step.
    int Error() const { return m_error; }
    const posix_spawnattr_t* Get() const { return &m_attr; }

private:
    posix_spawnattr_t m_attr;
    bool m_init = false;
    int m_error = 0;
};

// Descriptor actions; each call returns 0 or an error number, and later calls do nothing after a
// failure (Error() keeps the first).
class CSpawnFileActions {
public:
    CSpawnFileActions();
    ~CSpawnFileActions();
    CSpawnFileActions(const CSpawnFileActions&) = delete;
    CSpawnFileActions& operator=(const CSpawnFileActions&) = delete;

    // `from` becomes descriptor `to` in the child (nothing when they are equal).
    int Dup2(int from, int to);
    // Every descriptor from `first` up is closed in the child.
    int CloseFrom(int first);

    int Error() const { return m_error; }
    const posix_spawn_file_actions_t* Get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
    bool m_init = false;
    int m_error = 0;
};

}  // namespace zentra
