// dmVendas: the demonstration sales data module, served to remote clients as the
// automation class "QarDemo.Vendas" (QarDemoSrv.dll on Windows; linked into
// QarDemo.exe on every system).
//
// A server declares three things: the data module (its components are made and wired
// in the constructor, as a form designer would), its methods (plain member functions),
// and a static factory that binds the methods to dispatch identifiers and names.
// Clients create the class by ProgID and call the methods by name; the automation
// layer wraps every call (caller identity, SQL monitor, session row, open-transaction
// report), so a method contains only its own work.
#include <cstdint>
#include <string>

#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "com/dispatch_client.h"
#include "config/GeralQar.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_set_provider.h"

namespace qar::samples {
namespace {

class TdmVendas : public automation::TMtsDataModule {
 public:
  TdmVendas() {
    // The name appears in the logs ("DataModule: dmVendas (GravaPedido)"), in
    // tr_report.txt and in the session rows.
    SetName("dmVendas");

    // The layer attaches its monitor to the module's first connection. It is closed
    // before every call and opened again by the method's first statement.
    adcVendas.SetName("adcVendas");
    adcVendas.SetLoginPrompt(false);
    adcVendas.BeforeConnect = TConnectionNotifyEvent::Bind(*this, &TdmVendas::adcVendasBeforeConnect);

    adqPedidos.SetName("adqPedidos");
    adqPedidos.SetConnection(&adcVendas);
    adqPedidos.SQL().Add("select ID, CLIENTE, SITUACAO from PEDIDO order by ID");

    // Clients reach the orders through this provider too (AS_GetRecords "dspPedidos").
    dspPedidos.SetName("dspPedidos");
    dspPedidos.SetDataSet(&adqPedidos);
    dspPedidos.SetTableName("PEDIDO");
    dspPedidos.SetKeyFields({"ID"});
    RegisterProvider(dspPedidos);

    adqPedido.SetName("adqPedido");
    adqPedido.SetConnection(&adcVendas);
    adqPedido.SQL().Add("select SITUACAO from PEDIDO where ID = :ID");

    acmGravaPedido.SetName("acmGravaPedido");
    acmGravaPedido.SetConnection(&adcVendas);
    acmGravaPedido.SetCommandText("update PEDIDO set SITUACAO = :SITUACAO where ID = :ID");

    adqSessoes.SetName("adqSessoes");
    adqSessoes.SetConnection(&adcVendas);
    adqSessoes.SQL().Add("select count(*) as N from SQLWEBTUNNING where NRSID = @@SPID");
  }
  std::string ClassName() const override { return "TdmVendas"; }

  // Sets an order's situation; returns the number of orders changed (0: no such order).
  std::int32_t GravaPedido(const std::string& situacao, std::int32_t id) {
    acmGravaPedido.Parameters().ParamByName("SITUACAO").SetValue(situacao);
    acmGravaPedido.Parameters().ParamByName("ID").SetValue(id);
    return static_cast<std::int32_t>(acmGravaPedido.Execute());
  }

  // Every order as a data packet (ID, CLIENTE, SITUACAO).
  Variant ListaPedidos() {
    std::int32_t count = 0;
    Variant params;
    Variant ownerData;
    return dspPedidos.GetRecords(-1, count, 0, "", params, ownerData);
  }

  // A method that forgets to commit: inside a transaction it looks the order up and
  // cancels it, and returns. The layer writes the open transaction to tr_report.txt
  // and rolls it back, so the order keeps its situation.
  std::int32_t AbrePedido(std::int32_t id) {
    adcVendas.BeginTrans();
    adqPedido.Parameters().ParamByName("ID").SetValue(id);
    adqPedido.Open();
    const bool found = !adqPedido.Eof();
    adqPedido.Close();
    return found ? GravaPedido("C", id) : 0;
  }

  // A statement that fails (order 41 exists): the client gets the database's message,
  // and the error log holds the statement with it.
  void FalhaPedido() {
    adcVendas.Execute("insert into PEDIDO (ID, CLIENTE, SITUACAO) values (41, 'Pedido repetido', 'A')");
  }

  // Sets two orders' situation in one transaction, each through this module's own
  // GravaPedido called as a client calls it. A method may call its own object: the
  // nested call leaves the connection and transaction of the outer call alone.
  std::int32_t GravaPedidos(const std::string& situacao, std::int32_t primeiro, std::int32_t segundo) {
    const TComPtr<com::IDispatch> self = ComObject().As<com::IDispatch>();
    adcVendas.BeginTrans();
    std::int32_t changed = 0;
    for (const std::int32_t id : {primeiro, segundo})
      changed += com::CallByName(*self, "GravaPedido", {situacao, id}).AsInteger();
    adcVendas.CommitTrans();
    return changed;
  }

  // The session rows of this call's own database session: 1 while the layer has
  // registered the caller (tuning on and an identity given), otherwise 0.
  std::int32_t SessoesAtivas() {
    adqSessoes.Open();
    const std::int32_t rows = adqSessoes.FieldByName("N").AsInteger();
    adqSessoes.Close();
    return rows;
  }

 private:
  // Like any server of the installation, the module connects with the connection
  // string stored (encrypted) in the settings, read once per process.
  void adcVendasBeforeConnect(TADOConnection& connection) {
    static const bool settingsRead = (config::InitializeGeralQar(), true);  // a failure is retried next time
    (void)settingsRead;
    connection.SetConnectionString(config::GetConnectionString(config::kDefaultDatabaseKey));
  }

  TADOConnection& adcVendas = CreateComponent<TADOConnection>();
  TADOQuery& adqPedidos = CreateComponent<TADOQuery>();
  TDataSetProvider& dspPedidos = CreateComponent<TDataSetProvider>();
  TADOQuery& adqPedido = CreateComponent<TADOQuery>();
  TADOCommand& acmGravaPedido = CreateComponent<TADOCommand>();
  TADOQuery& adqSessoes = CreateComponent<TADOQuery>();
};

// The class's registration: class identifier, registered name, ProgID, and the
// dispatch interface (the seven IAppServer operations plus the methods above). The
// dispatch identifiers are the interface's contract with compiled clients: never
// renumber them.
automation::TVCLAutoObjectFactory gVendasFactory = automation::VCLAutoObjectFactoryOf<TdmVendas>(
    {TGUID::Parse("{BB7D8C49-0C5E-47AD-8EF4-993C33CD5A1F}"), "dmVendas", "QarDemo.Vendas",
     "QarSnc demonstration: sales orders"},
    com::AppServerTypeInfo<TdmVendas>("IdmVendas", TGUID::Parse("{968ABA6D-4DA2-42E2-92F0-79F4E43D3B46}"))
        .Method(1, "GravaPedido", &TdmVendas::GravaPedido)
        .Method(2, "ListaPedidos", &TdmVendas::ListaPedidos)
        .Method(3, "AbrePedido", &TdmVendas::AbrePedido)
        .Method(4, "FalhaPedido", &TdmVendas::FalhaPedido)
        .Method(5, "SessoesAtivas", &TdmVendas::SessoesAtivas)
        .Method(6, "GravaPedidos", &TdmVendas::GravaPedidos)
        .Build());

// The automation unit's start-up, when the server's module is loaded.
const struct TVCLComUnit {
  TVCLComUnit() { automation::InitializeVCLCom(); }
  ~TVCLComUnit() { automation::FinalizeVCLCom(); }
} gVCLComUnit;

}  // namespace
}  // namespace qar::samples
