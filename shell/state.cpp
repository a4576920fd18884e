#include "state.h"

#include "completion.h"
#include "schema.h"
#include "settings.h"

#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"

namespace orva {

ShellState::ShellState()
    : spool(std::make_unique<zentra::CSpoolFile>()),
      output(std::make_unique<zentra::COutput>(spool.get())),
      input(std::make_unique<zentra::CInput>(spool.get())),
      history(std::make_unique<zentra::CSQLBuffer>(20)),
      completer(std::make_unique<CCompleter>()) {
    ResetSettings(*this, true);
    input->SetCompletion([this](const CString& beforeCursor, zentra::COMPLETION& result) {
        const bool open = connection && connection->IsConnect();
        completer->SetConnection(
            open ? connection.get() : nullptr, connectInfo.type, connectInfo.database,
            zentra::DialectOfType(connectInfo.type).namesDataSource ? CString() : connectInfo.schema);
        completer->Complete(beforeCursor, result);
    });
}

ShellState::~ShellState() {
    // The connection goes before the console objects; those go in reverse order of creation.
    input->SetCompletion(nullptr);
    completer.reset();
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
