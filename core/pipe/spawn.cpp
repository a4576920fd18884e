#include "zentra/spawn.h"

#include <errno.h>
#include <signal.h>

#include <initializer_list>

namespace zentra {

CSpawnAttributes::CSpawnAttributes(bool newSession) {
    m_error = posix_spawnattr_init(&m_attr);
    if (m_error != 0) return;
    m_init = true;
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) {
#ifdef POSIX_SPAWN_SETSID
        flags |= POSIX_SPAWN_SETSID;
#else
        flags |= POSIX_SPAWN_SETPGROUP;
        if ((m_error = posix_spawnattr_setpgroup(&m_attr, 0)) != 0) return;
#endif
    }
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig :
         {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2, SIGTSTP, SIGTTIN, SIGTTOU})
        sigaddset(&defaults, sig);
    if ((m_error = posix_spawnattr_setflags(&m_attr, flags)) != 0) return;
    if ((m_error = posix_spawnattr_setsigmask(&m_attr, &none)) != 0) return;
    m_error = posix_spawnattr_setsigdefault(&m_attr, &defaults);
}

CSpawnAttributes::~CSpawnAttributes() {
    if (m_init) posix_spawnattr_destroy(&m_attr);
}

CSpawnFileActions::CSpawnFileActions() {
    m_error = posix_spawn_file_actions_init(&m_actions);
    m_init = m_error == 0;
}

CSpawnFileActions::~CSpawnFileActions() {
    if (m_init) posix_spawn_file_actions_destroy(&m_actions);
}

int CSpawnFileActions::Dup2(int from, int to) {
    if (m_error == 0 && from != to) m_error = posix_spawn_file_actions_adddup2(&m_actions, from, to);
    return m_error;
}

int CSpawnFileActions::CloseFrom(int first) {
    if (m_error == 0) m_error = posix_spawn_file_actions_addclosefrom_np(&m_actions, first);
    return m_error;
}

}  // namespace zentra
