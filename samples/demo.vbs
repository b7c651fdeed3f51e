' demo.vbs: calls the demonstration sales server "QarDemo.Vendas" (QarDemoSrv.dll,
' registered with regsvr32) through COM, with each kind of caller identity, and
' prints every call and its result, the same lines QarDemo.exe prints.
'
'   regsvr32 QarDemoSrv.dll
'   cscript //Nologo demo.vbs
'
' Ends with 0 when every call went as meant (FalhaPedido is meant to fail), 1 when
' one did not, 2 when the server cannot be created.
Option Explicit
On Error Resume Next

Dim server, maria, result, unexpected
unexpected = 0

' A caller identity as a client puts it in front of a method's arguments: a marker,
' the guillemets Chr(171) and Chr(187) around "#" (host and application) or "$" (with
' the operator, and a database key when all 46 characters are there), then
' fixed-width fields from the caller's IPv4 address, one character per byte.
Function Identity(marker, operatorName, key)
  Dim text
  text = Chr(171) & marker & Chr(187) & Chr(192) & Chr(168) & Chr(1) & Chr(20) & Padded("PDV01", 15) & Padded("CAIXA", 10)
  If key = "" Then
    Identity = text & operatorName
  Else
    Identity = text & Padded(operatorName, 12) & Padded(key, 5)
  End If
End Function

Function Padded(text, width)
  Padded = Left(text & Space(width), width)
End Function

' An order list (a data packet: format, fields, rows) as "41 A Padaria Central; ...".
Function Pedidos(packet)
  Dim row, text
  text = ""
  For Each row In packet(2)
    If text <> "" Then text = text & "; "
    text = text & row(0) & " " & row(2) & " " & row(1)
  Next
  Pedidos = text
End Function

' Prints the outcome of the call just made; Err holds its failure, if any.
Sub Show(label, result, meantToFail)
  If Err.Number <> 0 Then
    WScript.Echo label & " -> error: " & Err.Description
    If Not meantToFail Then unexpected = unexpected + 1
    Err.Clear
  Else
    WScript.Echo label & " -> " & result
    If meantToFail Then unexpected = unexpected + 1
  End If
End Sub

Set server = CreateObject("QarDemo.Vendas")
If Err.Number <> 0 Then
  WScript.Echo "QarDemo.Vendas cannot be created: " & Err.Description
  WScript.Quit 2
End If

' Identities go by value (an expression): a script variable would reach the server by
' reference and is not taken for an identity.
maria = Identity("$", "MARIA", "")

result = Pedidos(server.ListaPedidos())
Show "ListaPedidos()", result, False
result = server.SessoesAtivas()
Show "SessoesAtivas() without identity", result, False
result = server.SessoesAtivas(Identity("#", "", ""))
Show "SessoesAtivas() as PDV01/CAIXA (kind 3)", result, False
result = server.SessoesAtivas((maria))
Show "SessoesAtivas() as MARIA (kind 4)", result, False
result = server.SessoesAtivas(Identity("$", "GERENTE", "211"))
Show "SessoesAtivas() as GERENTE, database 211 (kind 5)", result, False
result = server.AbrePedido((maria), 43)
Show "AbrePedido(43) as MARIA (kind 4)", result, False
result = Empty
server.FalhaPedido Identity("$", "JOAO", "")
Show "FalhaPedido() as JOAO (kind 4)", result, True
result = server.GravaPedido((maria), "F", 42)
Show "GravaPedido(""F"", 42) as MARIA (kind 4)", result, False
result = Pedidos(server.ListaPedidos())
Show "ListaPedidos()", result, False

Set server = Nothing
If unexpected > 0 Then WScript.Quit 1
WScript.Quit 0
