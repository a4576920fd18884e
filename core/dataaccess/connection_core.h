// The connection shared by a CADOConnection and the recordsets and commands built on it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "odbc_handle.h"
#include "rowset.h"

namespace zentra {

class ConnectionCore {
public:
    ConnectionCore() = default;
    ~ConnectionCore() noexcept;
    ConnectionCore(const ConnectionCore&) = delete;
    ConnectionCore& operator=(const ConnectionCore&) = delete;

    bool Connect(const std::wstring& connectionString, long loginTimeout, OdbcError& error);
    void Disconnect() noexcept;
    bool IsOpen() const { return dbc_.connected(); }
    SQLHDBC dbc() const { return dbc_.get(); }
    bool inTransaction = false;
    // What the driver lets the code do (asked once when connecting).
    const DriverCaps& caps() const { return caps_; }

    // Runs one statement on a fresh statement handle. `start` issues the call (SQLExecDirectW,
    // a catalog function, ...). With `rows` the first result that has columns is fetched into
    // it; without, all results are discarded. `affected` receives the rows-changed count of the
    // results without columns (-1 when none reports one). `owner` identifies the caller for
    // Cancel. `oneResult`: the call makes exactly one result; no further one is asked for.
    bool Run(const std::function<SQLRETURN(SQLHSTMT)>& start, RowSet* rows, long* affected, const void* owner,
             OdbcError& error, bool oneResult = false);

    // Cancels the running statements of `owner` (all of them when `owner` is null). Safe from
    // any thread: a statement handle is freed only after it has left the running list.
    void Cancel(const void* owner);
    // True while a statement runs (safe from any thread).
    bool IsExecuting();

private:
    bool RunStatement(const std::function<SQLRETURN(SQLHSTMT)>& start, RowSet* rows, long* affected, const void* owner,
                      OdbcError& error, bool oneResult);
    struct Running {
        SQLHSTMT stmt;
        const void* owner;
        std::atomic<bool> cancelled{false};
    };
    std::shared_ptr<EnvHandle> env_;
    DbcHandle dbc_;
    DriverCaps caps_;
    bool lost_ = false;  // closed because the driver reported the link gone
    std::mutex mutex_;
    std::vector<Running*> running_;
};

}  // namespace zentra
