// The remote-execution control table CTRLEXECREM: its status values, its predicates and the agent's statements.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace qar::state {

// Status values the agent knows, compared as exact texts.
inline constexpr const char* kStatusPending = "P";
inline constexpr const char* kStatusCancelRequested = "C";
inline constexpr const char* kStatusNotOk = "NOK";

// The agent's day filter, the one rule for "inserted today": inserted on the database
// server's current day. Every reader of the table uses it; a pending row that fails it
// has expired, and the agent never starts it.
inline constexpr char kInsertedToday[] = "CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)";

// What the agent writes into DSERRO when it ends a run for a cancellation.
inline constexpr char kCancelledByOperator[] = "Cancelado pelo operador";

// Literal texts joined at compile time, so that a statement's fixed line can hold a
// shared fragment: ConcatText("a", "b").data() is "ab".
template <std::size_t... N>
constexpr std::array<char, (N + ...) - sizeof...(N) + 1> ConcatText(const char (&... parts)[N]) {
  std::array<char, (N + ...) - sizeof...(N) + 1> text{};
  std::size_t at = 0;
  const auto append = [&](const char* part, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; ++i) text[at++] = part[i];
  };
  (append(parts, N), ...);
  return text;
}

inline constexpr auto kAndInsertedTodayLine = ConcatText("   AND ", kInsertedToday);
// A column HOJE of a row: 1 when it was inserted today, else 0.
inline constexpr auto kInsertedTodayColumn = ConcatText("CASE WHEN ", kInsertedToday, " THEN 1 ELSE 0 END AS HOJE");
inline constexpr auto kCancelledByOperatorLine = ConcatText("           DSERRO = '", kCancelledByOperator, "',");
// A row the agent ended for a cancellation, whatever its status now.
inline constexpr auto kCancelledByOperatorCondition = ConcatText("DSERRO = '", kCancelledByOperator, "'");

// The statements, line by line; lines are joined with CR LF. Their texts are fixed:
// the server gets them byte for byte.
inline constexpr const char* kPendingRowsQuery[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO, DSOPERACAO",
    "  FROM CTRLEXECREM",
    " WHERE IDSTCTRLEXECREM = 'P'",
    kAndInsertedTodayLine.data(),
};

inline constexpr const char* kRowByIdQuery[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO",
    "  FROM CTRLEXECREM",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
    kAndInsertedTodayLine.data(),
};

// The row's status whatever day it was inserted: the row-by-id query no longer finds
// the row of a run that crossed the server's midnight.
inline constexpr const char* kRowStatusAnyDayQuery[] = {
    "SELECT IDSTCTRLEXECREM",
    "  FROM CTRLEXECREM",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
};

inline constexpr const char* kCancelUpdate[] = {
    "UPDATE CTRLEXECREM",
    "   SET IDSTCTRLEXECREM = 'NOK',",
    kCancelledByOperatorLine.data(),
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

// Made with the table and its status index where the database is SQLite, and by the
// agent on a table an earlier version made (the second,
// a partial index, is SQLite's own), for the readers' counts of the day: each status's
// rows of the day are a range of the first, counted without reading a row; the second
// holds only the rows the agent ended for a cancellation (a query takes it when its
// condition holds kCancelledByOperatorCondition as it is written here).
inline constexpr const char* kCreateStatusDayIndex =
    "CREATE INDEX IF NOT EXISTS IXCTRLEXECREM_STATUS_DIA ON CTRLEXECREM (IDSTCTRLEXECREM, DTINCLUSAO)";
inline constexpr auto kCreateCancelledIndex =
    ConcatText("CREATE INDEX IF NOT EXISTS IXCTRLEXECREM_CANCELADO ON CTRLEXECREM (IDSTCTRLEXECREM, DTINCLUSAO) WHERE DSERRO = '",
               kCancelledByOperator, "'");
inline constexpr const char* kCreateSqliteDayIndexes[] = {kCreateStatusDayIndex, kCreateCancelledIndex.data()};

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
