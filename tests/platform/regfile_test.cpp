#include "platform/regfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

// "ção" as ANSI bytes (0xE7 0xE3 0x6F); the document holds UTF-8.
const std::string kCao = AnsiToUtf8("\xE7\xE3o");
const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";

// What a value means, by kind; a value read back must mean the same.
std::vector<std::string> Meaning(const RegKey& key) {
  std::vector<std::string> meaning{key.path};
  for (const RegValue& v : key.values) {
    const bool isText = v.kind == RegValueKind::kString || v.kind == RegValueKind::kExpandString;
    meaning.push_back(v.name + "|" + std::to_string(static_cast<int>(v.kind)) + "|" +
                      (isText ? v.text : v.kind == RegValueKind::kDword ? std::to_string(v.dword) : v.raw));
  }
  return meaning;
}

TEST(RegFile, EveryValueKindSurvivesWritingAndReadingBack) {
  RegDocument document;
  RegKey& key = document.AddKey("HKEY_LOCAL_MACHINE\\Software\\A" + kCao + "=1 \"x\"");
  key.values = {
      {"Path \\\"quoted\"=" + kCao, RegValueKind::kString, "C:\\dir\\\"q\"=1 " + kCao, 0, {}},
      {"", RegValueKind::kString, "the default", 0, {}},
      {"Empty", RegValueKind::kString, "", 0, {}},
      {"Negative", RegValueKind::kDword, {}, 0xFFFFFFC8u, {}},
      {"Expand", RegValueKind::kExpandString, "%TEMP%\\" + kCao, 0, {}},
      {"TwoLines", RegValueKind::kString, "first\r\nsecond", 0, {}},
      {"Multi", RegValueKind::kOther, {}, 0, "hex(7):61,00,00,00,\\\n  00,00"},
      {{}, RegValueKind::kComment, {}, 0, "; kept as written"},
  };
  document.AddKey("HKEY_LOCAL_MACHINE\\Software\\Other");
  const std::string bytes = SerializeRegFile(document);
  const RegDocument read = ParseRegFile(bytes);
  ASSERT_EQ(read.keys.size(), 2u);
  EXPECT_EQ(Meaning(read.keys[0]), Meaning(document.keys[0]));
  EXPECT_EQ(Meaning(read.keys[1]), Meaning(document.keys[1]));
  EXPECT_EQ(SerializeRegFile(read), bytes) << "a second rewrite changes nothing";

  // The registry editor's export text, as UTF-16LE with BOM.
  RegDocument small;
  small.AddKey("HKEY_LOCAL_MACHINE\\Software\\X").values = {{"Name", RegValueKind::kString, "C:\\dir \"q\"", 0, {}},
                                                          {"Level", RegValueKind::kDword, {}, 10, {}},
                                                          {"", RegValueKind::kString, "d", 0, {}}};
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n"
      "\"Name\"=\"C:\\\\dir \\\"q\\\"\"\r\n\"Level\"=dword:0000000a\r\n@=\"d\"\r\n\r\n";
  EXPECT_EQ(SerializeRegFile(small), Utf16LeFile(text));
}

TEST(RegFile, ReadsUtf16Utf8AndOlderAnsiFilesAlike) {
  const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\" + kCao + "]\n\"" +
                           kCao + "\"=\"" + kCao + "\"\n";
  const std::string crlf = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\" + kCao +
                           "]\r\n\"" + kCao + "\"=\"" + kCao + "\"\r\n";
  const std::string ansi = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\\xE7\xE3o]\r\n\"\xE7\xE3o\"=\"\xE7\xE3o\"\r\n";
  for (const std::string& bytes : {text, crlf, "\xEF\xBB\xBF" + crlf, Utf16LeFile(crlf), Utf16LeFile(text), ansi}) {
    const RegDocument document = ParseRegFile(bytes);
    ASSERT_EQ(document.keys.size(), 1u);
    EXPECT_EQ(document.keys[0].path, "HKEY_LOCAL_MACHINE\\Software\\" + kCao);
    ASSERT_EQ(document.keys[0].values.size(), 1u);
    EXPECT_EQ(document.keys[0].values[0].name, kCao);
    EXPECT_EQ(document.keys[0].values[0].text, kCao);
  }
  for (const std::string& empty : {std::string(), std::string("\xFF\xFE"), crlf.substr(0, 38)}) {
    EXPECT_TRUE(ParseRegFile(empty).keys.empty());
  }
}

TEST(RegFile, OtherKindsAreRewrittenVerbatimAndHexStringsReadAsText) {
  const std::string lines =
      "\"Multi\"=hex(7):41,00,42,00,00,00,43,00,00,00,00,00,44,00,45,00,46,00,47,00,48,\\\r\n"
      "  00,49,00,00,00,00,00\r\n"
      "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Blob\"=hex:de,AD,  be,ef\r\n"
      "\"Gone\"=-\r\n"
      "\"Dir\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,\\\r\n  00,00\r\n"
      "\"Plain\"=hex(1):e7,00,e3,00,6f,00,00,00\r\n";
  RegDocument document = ParseRegFile(kHead + lines + "\"Level\"=dword:00000001\r\n");
  RegKey& key = document.keys.at(0);
  for (const char* name : {"Multi", "Quad", "Blob", "Gone"}) EXPECT_EQ(key.FindValue(name)->kind, RegValueKind::kOther);
  EXPECT_EQ(key.FindValue("Dir")->kind, RegValueKind::kExpandString);
  EXPECT_EQ(key.FindValue("Dir")->text, "%TEMP%");
  EXPECT_EQ(key.FindValue("Plain")->kind, RegValueKind::kString);
  EXPECT_EQ(key.FindValue("Plain")->text, kCao);
  key.SetValue({"Level", RegValueKind::kDword, {}, 2, {}});
  EXPECT_EQ(FormatRegText(document), kHead + lines + "\"Level\"=dword:00000002\r\n\r\n");
}

TEST(RegFile, MalformedTextIsRefusedNamingTheLine) {
  const struct {
    std::string text;
    int line;
  } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\K]\r\n", 1},                              // no header
      {"Windows Registry Editor Version 5.00\r\n\"A\"=\"1\"\r\n", 2},  // value outside a key
      {kHead + "\"A\"=\"C:\\dir\"\r\n", 4},                            // single backslash
      {kHead + "\"A\"=\"open\r\n", 4},                                 // no closing quote
      {kHead + "\"A\"=\"x\" y\r\n", 4},                                // text after the quote
      {kHead + "\"A\"=dword:1g\r\n", 4},
      {kHead + "\"A\"=dword:100000000\r\n", 4},  // more than 32 bits
      {kHead + "\"A\"=1\r\n", 4},
      {kHead + "\"A\"\r\n", 4},  // no '='
      {kHead + "A=\"1\"\r\n", 4},
      {kHead + "[HKEY_LOCAL_MACHINE\\L\r\n", 4},
      {kHead + "[-HKEY_LOCAL_MACHINE\\L]\r\n", 4},
      {kHead + "\"A\"=hex:0g\r\n", 4},
      {kHead + "\"A\"=hex(7:00\r\n", 4},
      {kHead + "\"A\"=hex:00,\\\r\n", 4},                  // continued past the end
      {kHead + "\"A\"=hex:00,\\\r\n 01\r\n\"B\"=1\r\n", 6},  // lines counted past a continuation
      {kHead + "\"A\"=\"1\"\r\n\"B\"=\"\xE7\"\r\n", 5},      // not UTF-8
      {"\xFF\xFE\x41", 1},                                  // half a UTF-16 unit
      {kHead + "\"A\"=\"1" + std::string(1, '\0') + "2\"\r\n", 4},  // a NUL would not read back
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseRegFile(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const RegFormatError& e) {
      EXPECT_EQ(e.Line(), c.line) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("line " + std::to_string(c.line) + ": ", 0), 0u);
    }
  }
}

// Names compare ignoring the case of a-z only: a key or value given twice, in any such
// case, is one, keeps its first place and spelling, and the later value wins.
TEST(RegFile, RepeatedKeysAndValuesMergeIgnoringTheCaseOfAsciiLetters) {
  const std::string upperC = AnsiToUtf8("\xC7");
  RegDocument document = ParseRegFile(
      kHead + "\"SqlMonitor\"=dword:00000002\r\n\"B\"=\"1\"\r\n\"" + upperC + "\"=\"upper\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Other]\r\n[hkey_local_machine\\k]\r\n\"sqlmonitor\"=\"2\"\r\n\"C\"=\"3\"\r\n\"" +
      AnsiToUtf8("\xE7") + "\"=\"lower\"\r\n");
  ASSERT_EQ(document.keys.size(), 2u);
  RegKey* key = document.FindKey("HKEY_LOCAL_MACHINE\\K");
  ASSERT_EQ(key, &document.keys[0]);
  std::vector<std::string> names;
  for (const RegValue& value : key->values) names.push_back(value.name);
  EXPECT_EQ(names, (std::vector<std::string>{"SqlMonitor", "B", upperC, "C", AnsiToUtf8("\xE7")}));
  EXPECT_EQ(key->FindValue("SQLMONITOR")->text, "2");
  key->SetValue({"sqlmonitor", RegValueKind::kDword, {}, 3, {}});
  EXPECT_EQ(key->values[0].name, "SqlMonitor") << "the stored name keeps its case";
  EXPECT_EQ(key->values[0].dword, 3u);
}

TEST(RegFile, KeysExistBelowBlocksJoinTheirRelativesAndGoWithTheirTree) {
  RegDocument document = ParseRegFile("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                                      "[HKEY_LOCAL_MACHINE\\A\\X\\Y]\r\n[HKEY_LOCAL_MACHINE\\B]\r\n");
  EXPECT_TRUE(document.HasKey("HKEY_LOCAL_MACHINE\\a\\x"));
  EXPECT_FALSE(document.HasKey("HKEY_LOCAL_MACHINE\\A\\X\\Y\\Z"));
  EXPECT_FALSE(document.HasKey("HKEY_LOCAL_MACHINE\\A\\XY"));
  EXPECT_EQ(document.FindKey("HKEY_LOCAL_MACHINE\\A\\X"), nullptr);
  document.AddKey("HKEY_LOCAL_MACHINE\\A\\Z");
  document.AddKey("HKEY_LOCAL_MACHINE\\C");
  std::vector<std::string> paths;
  for (const RegKey& key : document.keys) paths.push_back(key.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\A", "HKEY_LOCAL_MACHINE\\A\\X\\Y",
                                             "HKEY_LOCAL_MACHINE\\A\\Z", "HKEY_LOCAL_MACHINE\\B",
                                             "HKEY_LOCAL_MACHINE\\C"}));
  EXPECT_EQ(document.RemoveKeyTree("HKEY_LOCAL_MACHINE\\a"), 3u);
  ASSERT_EQ(document.keys.size(), 2u);
  EXPECT_EQ(document.keys[0].path, "HKEY_LOCAL_MACHINE\\B");
}

}  // namespace
}  // namespace qar::platform
