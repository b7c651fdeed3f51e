// The automation layer's own texts, as Windows-1252 bytes ('é' is 0xE9).
#pragma once

#include <string_view>

namespace qar::automation::texts {

// A literal is split where a hex escape is followed by a letter that could continue it.

// The method a monitor names when the caller sent no extended identity.
inline constexpr std::string_view kMethodNotIdentified = "M\xE9todo n\xE3o identificado";

// tr_report.txt: the title between the separators, padded to 77 characters, and the
// 13-character captions of the lines that differ from the bug report's.
inline constexpr std::string_view kPendingTransactionTitle =
    "Transa\xE7\xE3o pendente ap\xF3s t\xE9rmino da execu\xE7\xE3o do m\xE9todo do servidor            ";
static_assert(kPendingTransactionTitle.size() == 77);
inline constexpr std::string_view kReportMethod = "M\xE9todo ....: ";
inline constexpr std::string_view kReportOperator = "Operador ..: ";
inline constexpr std::string_view kReportHost = "Rem. Host .: ";
inline constexpr std::string_view kReportApplication = "Rem. Aplic.: ";

}  // namespace qar::automation::texts
