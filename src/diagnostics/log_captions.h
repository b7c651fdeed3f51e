// The captions of log entries and reports, as Windows-1252 bytes ('ã' is 0xE3).
#pragma once

#include <string_view>

namespace qar::diagnostics::captions {

// Every non-ASCII caption of the logs lives here, written as byte escapes. A literal
// is split where a hex escape is followed by a letter that could continue it.

// Lines end with CR LF on every platform; values stand under their caption after three spaces.
inline constexpr std::string_view kNewLine = "\r\n";
inline constexpr std::string_view kIndent = "   ";

// The first line of a connection entry (90 "=") and of a before-execution entry (90 "-").
inline constexpr std::string_view kEqualsRule =
    "==========================================================================================";
inline constexpr std::string_view kDashRule =
    "------------------------------------------------------------------------------------------";

// Connection log entries.
inline constexpr std::string_view kConnectionBanner = "Conex\xE3o Banco de Dados: ";
inline constexpr std::string_view kConnectionString = "String de Conex\xE3o: ";
inline constexpr std::string_view kDataModule = "DataModule: ";
inline constexpr std::string_view kSql = "SQL: ";
inline constexpr std::string_view kConnectionStatement = "CONEX\xC3O";
inline constexpr std::string_view kObservations = "Observa\xE7\xF5" "es: ";
inline constexpr std::string_view kDesignTimeConnected =
    "- Componente de conex\xE3o conectado em tempo de projeto.";
inline constexpr std::string_view kViaSocketServer = "- Conex\xE3o estabelecida via Socket Server.";
inline constexpr std::string_view kError = "Erro: ";
inline constexpr std::string_view kShortRule = "--------";

// Statement entries of the SQL execution monitor.
inline constexpr std::string_view kExecutionStart = "In\xED" "cio de Execu\xE7\xE3o: ";
inline constexpr std::string_view kClientHost = "Equipamento Cliente: ";
inline constexpr std::string_view kApplication = "Aplica\xE7\xE3o: ";
inline constexpr std::string_view kOperator = "Operador: ";
inline constexpr std::string_view kProcedure = "PROCEDURE: ";
inline constexpr std::string_view kParameters = "Parametros: ";
inline constexpr std::string_view kExecutionEnd = "T\xE9rmino de Execu\xE7\xE3o: ";
inline constexpr std::string_view kParameterNumber = "No.: ";
inline constexpr std::string_view kParameterName = " - Nome: ";
inline constexpr std::string_view kParameterValue = " - Valor: ";
inline constexpr std::string_view kNullValue = "NULL";
// Parameter directions, each ten characters.
inline constexpr std::string_view kDirectionUnknown = " (Unknown)";
inline constexpr std::string_view kDirectionInput = " (Input)  ";
inline constexpr std::string_view kDirectionOutput = " (OutPut) ";
inline constexpr std::string_view kDirectionInputOutput = " (In/Out) ";
inline constexpr std::string_view kDirectionReturn = " (Return) ";
// Under "Erro: " when a failed statement's notification carries no error object.
inline constexpr std::string_view kNoErrorObject =
    "(sem descri\xE7\xE3o: a notifica\xE7\xE3o n\xE3o trouxe o objeto de erro)";

// Bug report lines: a fixed 13-character caption, then the value.
inline constexpr std::string_view kReportDateTime = "Data/Hora .: ";
inline constexpr std::string_view kReportExe = "EXE .......: ";
inline constexpr std::string_view kReportDll = "DLL .......: ";
inline constexpr std::string_view kReportDatamodule = "Datamodule : ";
inline constexpr std::string_view kReportError = "Erro ......: ";
inline constexpr std::string_view kReportMessage = "Mensagem ..: ";

}  // namespace qar::diagnostics::captions
