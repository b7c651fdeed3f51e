// The test server's one class: a data module that scripts create as
// "QarTeste.Servidor". Built into QarComTestServer.dll on Windows and into the
// automation tests on every system.
#include <stdexcept>
#include <string>

#include "automation/VCLCom.h"
#include "com/type_info.h"

namespace qar::automation::testing {
namespace {

class TdmServidorTeste : public TComponent {
 public:
  std::string Concat(const std::string& a, const std::string& b) { return a + b; }
  std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b; }
  // The first byte the server received, so a client can see the code page's bytes.
  std::int32_t FirstByte(const std::string& text) {
    return text.empty() ? -1 : static_cast<unsigned char>(text[0]);
  }
  // The type code of the argument's value (a Variant parameter is a copy, never a reference).
  std::int32_t ArgType(Variant value) { return value.VarType(); }
  std::int32_t ValueType(Variant value) { return value.Deref().VarType(); }
  void Increment(Variant& value) { value = value.AsInteger() + 1; }
  void Fail(const std::string& message) { throw std::runtime_error(message); }
  // Leaves `value` in the variable the client passed as `target`.
  void Assign(Variant& target, Variant value) { target = value; }
};

TVCLAutoObjectFactory gFactory = VCLAutoObjectFactoryOf<TdmServidorTeste>(
    {TGUID::Parse("{B3C4D5E6-F708-4192-A3B4-C5D6E7F80910}"), "dmServidorTeste",
     "QarTeste.Servidor", "Servidor de teste"},
    com::TTypeInfoBuilder<TdmServidorTeste>("IdmServidorTeste",
                                            TGUID::Parse("{B3C4D5E6-F708-4192-A3B4-C5D6E7F80911}"))
        .Method(1, "Concat", &TdmServidorTeste::Concat)
        .Method(2, "Add", &TdmServidorTeste::Add)
        .Method(3, "FirstByte", &TdmServidorTeste::FirstByte)
        .Method(4, "ArgType", &TdmServidorTeste::ArgType)
        .Method(5, "ValueType", &TdmServidorTeste::ValueType)
        .Method(6, "Increment", &TdmServidorTeste::Increment)
        .Method(7, "Fail", &TdmServidorTeste::Fail)
        .Method(8, "Assign", &TdmServidorTeste::Assign)
        .Build());

}  // namespace
}  // namespace qar::automation::testing
