// The caller's database session in SQLWEBTUNNING while a method runs: registering and removing it.
#pragma once

#include <cstdint>
#include <string_view>

#include "automation/call_context.h"
#include "data/ado_connection.h"

namespace qar::automation {

// Which statements a connection gets, by its connection string (upper-cased):
// "MSDAORA" is Oracle, else "SQLOLEDB" is SQL Server, else a SQLite database (the
// embedded provider "SQLite", or an ODBC driver whose name holds "SQLite") runs the
// SQL Server statements too, through its dialect. Anything else gets none.
enum class TSessionProvider { kNone, kOracle, kSqlServer };
TSessionProvider SessionProviderOf(std::string_view connectionString);

// Inserts the session row through a command of its own on `connection` (in its state
// at that moment: the caller's connection object when one is attached). A closed
// connection is opened first, as the insert would open it, so that its BeforeConnect
// (where a module commonly sets its connection string) runs before the statements are
// chosen by that string. The row has the
// long form for kinds 4 and 5 (operator and method name) and the short form for the
// others (the dispatch identifier); Oracle then commits. Parameters are set by
// position: address (dotted), host, application, then operator, data module (the
// connection owner's name, at most 20 characters), module short name and method
// name, or data module, module short name and dispatch identifier. True when every
// statement ran; every failure (no connection, no provider, no table, a refused
// connect) gives false with its description in `failure`, for the caller to log;
// without a connection there is no session: false, no description.
bool RegisterSession(TADOConnection* connection, std::string_view identityText,
                     std::uint8_t identityKind, com::DispId dispatchId,
                     const CallContext& call, std::string& failure) noexcept;

// Deletes every row of the connection's session: Oracle by audit session (kinds 4
// and 5) or by session, then commits; SQL Server (and SQLite) by @@SPID. Every
// failure is swallowed.
void UnregisterSession(TADOConnection* connection, std::uint8_t identityKind) noexcept;

}  // namespace qar::automation
