#include "automation/session_registration.h"

#include <string>

#include "automation/caller_identity.h"
#include "automation/method_name.h"
#include "data/ado_command.h"
#include "data/connection_string.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/mask_password.h"
#include "platform/text.h"

namespace qar::automation {

namespace {

constexpr std::size_t kMaxDataModuleName = 20;

// The statements, line by line joined with CR LF; every space counts.
constexpr const char* kInsertLongOracle =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE)\r\n"
    "SELECT SID, AUDSID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "       :REMOTEOPER, :SERVERRDM, :SERVERDLL, :SERVMETHOD, SYSDATE\r\n"
    "FROM V$SESSION\r\n"
    "WHERE AUDSID = USERENV('SESSIONID')";

constexpr const char* kInsertLongSqlServer =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE)\r\n"
    "VALUES\r\n"
    "     (@@SPID, @@SPID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "      :REMOTEOPER, :SERVERRDM, :SERVERDLL, :SERVMETHOD, GETDATE())";

constexpr const char* kInsertShortOracle =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSSERVERRDM, DSSERVERDLL, NRSERVERDID, DTSTARTDATE)\r\n"
    "SELECT SID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "       :SERVERRDM, :SERVERDLL, :SERVERDID, SYSDATE\r\n"
    "FROM V$SESSION\r\n"
    "WHERE AUDSID = USERENV('SESSIONID')";

constexpr const char* kInsertShortSqlServer =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSSERVERRDM, DSSERVERDLL, NRSERVERDID, DTSTARTDATE)\r\n"
    "VALUES\r\n"
    "     (@@SPID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "       :SERVERRDM, :SERVERDLL, :SERVERDID, GETDATE())";

constexpr const char* kDeleteLongOracle =
    "DELETE FROM SQLWEBTUNNING\r\n"
    "WHERE NRAUDSID = USERENV('SESSIONID')";

constexpr const char* kDeleteShortOracle =
    "DELETE FROM SQLWEBTUNNING\r\n"
    "WHERE NRSID = (SELECT SID\r\n"
    "             FROM V$SESSION\r\n"
    "             WHERE AUDSID = USERENV('SESSIONID'))";

constexpr const char* kDeleteSqlServer =
    "DELETE FROM SQLWEBTUNNING\r\n"
    "WHERE NRSID = @@SPID";

constexpr const char* kCommit = "COMMIT";

bool LongForm(std::uint8_t identityKind) {
  return identityKind == kIdentityOperator || identityKind == kIdentityDatabaseKey;
}

bool NamesSqlite(std::string_view connectionString) {
  const std::string provider = platform::UpperCaseAscii(ConnectionStringValue(connectionString, "Provider"));
  const std::string driver = platform::UpperCaseAscii(ConnectionStringValue(connectionString, "Driver"));
  return provider.rfind("SQLITE", 0) == 0 || driver.find("SQLITE") != std::string::npos;
}

}  // namespace

TSessionProvider SessionProviderOf(std::string_view connectionString) {
  const std::string upper = platform::UpperCaseAscii(connectionString);
  if (upper.find("MSDAORA") != std::string::npos) return TSessionProvider::kOracle;
  if (upper.find("SQLOLEDB") != std::string::npos) return TSessionProvider::kSqlServer;
  return NamesSqlite(connectionString) ? TSessionProvider::kSqlServer : TSessionProvider::kNone;
}

bool RegisterSession(TADOConnection* connection, std::string_view identityText,
                     std::uint8_t identityKind, com::DispId dispatchId,
                     const CallContext& call, std::string& failure) noexcept {
  if (connection == nullptr) return false;  // a module without a database has no session
  try {
    if (!connection->Connected()) connection->Open();
    const TSessionProvider provider = SessionProviderOf(connection->ConnectionString());
    if (provider == TSessionProvider::kNone) {
      failure = "No session statements for the connection's provider: " +
                diagnostics::MaskPassword(connection->ConnectionString());
      return false;
    }
    const bool oracle = provider == TSessionProvider::kOracle;
    const bool longForm = LongForm(identityKind);
    TADOCommand command;  // no owner; leaves the connection when it goes
    command.SetConnection(connection);
    command.SetCommandText(longForm ? (oracle ? kInsertLongOracle : kInsertLongSqlServer)
                                     : (oracle ? kInsertShortOracle : kInsertShortSqlServer));
    const std::string dataModule =
        (connection->Owner() != nullptr ? connection->Owner()->Name() : std::string()).substr(0, kMaxDataModuleName);
    TParameters& parameters = command.Parameters();
    parameters[0].SetValue(FormatIPv4(IdentityField(identityText, kAddressField)));
    parameters[1].SetValue(std::string(IdentityField(identityText, kHostField)));
    parameters[2].SetValue(std::string(IdentityField(identityText, kApplicationField)));
    if (longForm) {
      parameters[3].SetValue(std::string(IdentityField(identityText, kOperatorField)));
      parameters[4].SetValue(dataModule);
      parameters[5].SetValue(diagnostics::ModuleShortName());
      parameters[6].SetValue(call.AutoObject != nullptr
                                 ? GetMethodName(static_cast<com::IDispatch&>(*call.AutoObject), dispatchId)
                                 : std::string());
    } else {
      parameters[3].SetValue(dataModule);
      parameters[4].SetValue(diagnostics::ModuleShortName());
      parameters[5].SetValue(static_cast<std::int32_t>(dispatchId));
    }
    command.Execute();
    if (oracle) {
      command.SetCommandText(kCommit);
      command.Execute();
    }
    return true;
  } catch (const std::exception& error) {
    // Registration is for the administrator's tuning view only: the call goes on.
    failure = std::string("The session row could not be registered: ") + error.what();
    return false;
  } catch (...) {
    failure = "The session row could not be registered";
    return false;
  }
}

void UnregisterSession(TADOConnection* connection, std::uint8_t identityKind) noexcept {
  if (connection == nullptr) return;
  try {
    const TSessionProvider provider = SessionProviderOf(connection->ConnectionString());
    if (provider == TSessionProvider::kNone) return;
    TADOCommand command;
    command.SetConnection(connection);
    if (provider == TSessionProvider::kOracle) {
      command.SetCommandText(LongForm(identityKind) ? kDeleteLongOracle : kDeleteShortOracle);
      command.Execute();
      command.SetCommandText(kCommit);
    } else {
      command.SetCommandText(kDeleteSqlServer);
    }
    command.Execute();
  } catch (...) {
    // A row left behind is the administrator's to clear; the call's result stands.
  }
}

}  // namespace qar::automation
