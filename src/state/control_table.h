// The remote-execution control table CTRLEXECREM: its status values and the agent's statements.
#pragma once

#include <cstddef>
#include <string>

namespace qar::state {

// Status values the agent knows, compared as exact texts.
inline constexpr const char* kStatusPending = "P";
inline constexpr const char* kStatusCancelRequested = "C";
inline constexpr const char* kStatusNotOk = "NOK";

// The statements, line by line; lines are joined with CR LF.
inline constexpr const char* kPendingRowsQuery[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO, DSOPERACAO",
    "  FROM CTRLEXECREM",
    " WHERE IDSTCTRLEXECREM = 'P'",
    "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
};

inline constexpr const char* kRowByIdQuery[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO",
    "  FROM CTRLEXECREM",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
    "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
};

inline constexpr const char* kCancelUpdate[] = {
    "UPDATE CTRLEXECREM",
    "   SET IDSTCTRLEXECREM = 'NOK',",
    "           DSERRO = 'Cancelado pelo operador',",
    "           DTULTATU = GETDATE()",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
};

inline constexpr const char* kCreateTable[] = {
    "CREATE TABLE CTRLEXECREM (",
    "    IDCTRLEXECREM   INT IDENTITY PRIMARY KEY,",
    "    CDAPP           VARCHAR(16),",
    "    TPOPERACAO      VARCHAR(50),",
    "    DSOPERACAO      NVARCHAR(MAX),",
    "    IDSTCTRLEXECREM VARCHAR(3),",
    "    DSERRO          NVARCHAR(MAX),",
    "    DTINCLUSAO      DATETIME DEFAULT GETDATE(),",
    "    DTINICIO        DATETIME,",
    "    DTULTATU        DATETIME",
    ")",
};

// Created together with the table, so that the pending-rows query stays a short
// index lookup however many finished rows the table keeps.
inline constexpr const char* kCreateStatusIndex =
    "CREATE INDEX IXCTRLEXECREM_STATUS ON CTRLEXECREM (IDSTCTRLEXECREM)";

// The parameter of the row-by-id query and the cancel update.
inline constexpr const char* kIdParameter = "IDCTRLEXECREM";

// A statement's text: its lines joined with CR LF.
template <std::size_t N>
std::string JoinStatementLines(const char* const (&lines)[N]) {
  std::string text;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

}  // namespace qar::state
