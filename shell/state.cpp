#include "state.h"

#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"

namespace orva {

ShellState::ShellState()
    : spool(std::make_unique<zentra::CSpoolFile>()),
      output(std::make_unique<zentra::COutput>(spool.get())),
      input(std::make_unique<zentra::CInput>(spool.get())),
      history(std::make_unique<zentra::CSQLBuffer>(20)) {}

ShellState::~ShellState() {
    // The connection goes before the console objects; those go in reverse order of creation.
    connection.reset();
    history.reset();
    input.reset();
    output.reset();
    spool.reset();
}

ShellState& State() {
    static ShellState state;
    return state;
}

}  // namespace orva
