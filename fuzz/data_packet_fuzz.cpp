// A data packet as a client sends it (written in the tests' variant notation): either
// refused with a clear error, or read into rows that fit their fields and whose
// written form reads back the same.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "../tests/support/variant_text.h"
#include "data/data_packet.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qar::Variant value;
  qar::TVariantTextReader reader(std::string_view(reinterpret_cast<const char*>(data), size), 6);
  try {
    value = reader.Read();
  } catch (const std::invalid_argument&) {
    return 0;
  }
  qar::TDataPacket packet;
  try {
    packet = qar::ReadDataPacket(value);
  } catch (const qar::EProviderError& error) {
    const std::string message = error.what();
    QAR_FUZZ_CHECK(message.rfind("Invalid data packet: ", 0) == 0 && message.size() > 21);
    return 0;
  }
  for (const auto& row : packet.Rows) {
    QAR_FUZZ_CHECK(row.size() == packet.Fields.size());
    for (std::size_t i = 0; i < row.size(); ++i)
      QAR_FUZZ_CHECK(row[i].IsNull() || row[i].VarType() == packet.Fields[i].Type);
  }
  const qar::Variant written = qar::MakeDataPacket(packet);
  QAR_FUZZ_CHECK(qar::MakeDataPacket(qar::ReadDataPacket(written)) == written);
  return 0;
}
