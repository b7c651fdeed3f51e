// The control table's statements and the session-registration statements, text for text, as the system sends them.
#pragma once

#include <string>

namespace qar::testing {

inline const std::string kCreateCtrlExecRem =
    "CREATE TABLE CTRLEXECREM (\r\n"
    "    IDCTRLEXECREM   INT IDENTITY PRIMARY KEY,\r\n"
    "    CDAPP           VARCHAR(16),\r\n"
    "    TPOPERACAO      VARCHAR(50),\r\n"
    "    DSOPERACAO      NVARCHAR(MAX),\r\n"
    "    IDSTCTRLEXECREM VARCHAR(3),\r\n"
    "    DSERRO          NVARCHAR(MAX),\r\n"
    "    DTINCLUSAO      DATETIME DEFAULT GETDATE(),\r\n"
    "    DTINICIO        DATETIME,\r\n"
    "    DTULTATU        DATETIME\r\n"
    ")";

// Query lines (a query's text ends every line with CR LF).
inline const char* const kPendingRows[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO, DSOPERACAO",
    "  FROM CTRLEXECREM",
    " WHERE IDSTCTRLEXECREM = 'P'",
    "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
};

inline const char* const kRowById[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO",
    "  FROM CTRLEXECREM",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
    "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
};

inline const std::string kCancelUpdate =
    "UPDATE CTRLEXECREM\r\n"
    "   SET IDSTCTRLEXECREM = 'NOK',\r\n"
    "           DSERRO = 'Cancelado pelo operador',\r\n"
    "           DTULTATU = GETDATE()\r\n"
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM";

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

inline const std::string kDeleteLongOracle =
    "DELETE FROM SQLWEBTUNNING\r\nWHERE NRAUDSID = USERENV('SESSIONID')";

inline const std::string kDeleteShortOracle =
    "DELETE FROM SQLWEBTUNNING\r\n"
    "WHERE NRSID = (SELECT SID\r\n"
    "             FROM V$SESSION\r\n"
    "             WHERE AUDSID = USERENV('SESSIONID'))";

}  // namespace qar::testing
