// The statements that register and unregister a caller's database session in SQLWEBTUNNING, as the system sends them.
#pragma once

#include <string>

namespace qar::testing {

inline const std::string kCreateSessionTable =
    "CREATE TABLE SQLWEBTUNNING (NRSID INTEGER, NRAUDSID INTEGER, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,"
    " DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, NRSERVERDID INTEGER, DTSTARTDATE DATETIME)";

inline const std::string kInsertLongSqlServer =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE)\r\n"
    "VALUES\r\n"
    "     (@@SPID, @@SPID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "      :REMOTEOPER, :SERVERRDM, :SERVERDLL, :SERVMETHOD, GETDATE())";

inline const std::string kInsertShortSqlServer =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSSERVERRDM, DSSERVERDLL, NRSERVERDID, DTSTARTDATE)\r\n"
    "VALUES\r\n"
    "     (@@SPID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "       :SERVERRDM, :SERVERDLL, :SERVERDID, GETDATE())";

inline const std::string kDeleteSqlServer = "DELETE FROM SQLWEBTUNNING\r\nWHERE NRSID = @@SPID";

inline const std::string kInsertLongOracle =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE)\r\n"
    "SELECT SID, AUDSID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "       :REMOTEOPER, :SERVERRDM, :SERVERDLL, :SERVMETHOD, SYSDATE\r\n"
    "FROM V$SESSION\r\n"
    "WHERE AUDSID = USERENV('SESSIONID')";

inline const std::string kInsertShortOracle =
    "INSERT INTO SQLWEBTUNNING\r\n"
    "     (NRSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
    "      DSSERVERRDM, DSSERVERDLL, NRSERVERDID, DTSTARTDATE)\r\n"
    "SELECT SID, :REMOTEADDR, :REMOTEHOST, :REMOTEAPPL,\r\n"
    "       :SERVERRDM, :SERVERDLL, :SERVERDID, SYSDATE\r\n"
    "FROM V$SESSION\r\n"
    "WHERE AUDSID = USERENV('SESSIONID')";

inline const std::string kDeleteLongOracle = "DELETE FROM SQLWEBTUNNING\r\nWHERE NRAUDSID = USERENV('SESSIONID')";

inline const std::string kDeleteShortOracle =
    "DELETE FROM SQLWEBTUNNING\r\n"
    "WHERE NRSID = (SELECT SID\r\n"
    "             FROM V$SESSION\r\n"
    "             WHERE AUDSID = USERENV('SESSIONID'))";

}  // namespace qar::testing
