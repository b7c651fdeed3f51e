// POSIX only: HKEY_LOCAL_MACHINE as a .reg file: its format, whole-file replacement, access rights.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/regfile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "scratch_registry.h"
#include "unprivileged_posix.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

const std::string kV5 = "Windows Registry Editor Version 5.00";
const std::string kHeader = kV5 + "\r\n\r\n";
const std::string kHead = kHeader + "[HKEY_LOCAL_MACHINE\\K]\r\n";
const std::string kCao = AnsiToUtf8("\xE7\xE3o");  // "ção": the file holds UTF-8 or UTF-16

// UTF-8 text as the registry editor exports it: UTF-16LE with a byte-order mark.
std::string Utf16LeFile(std::string_view utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(utf8)) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

int ModeOf(const fs::path& path) { return static_cast<int>(fs::status(path).permissions()); }

TEST(RegFile, ReadsUtf16Utf8AndOlderAnsiFilesAlike) {
  const auto text = [](const std::string& header, const std::string& name, const std::string& eol) {
    return header + eol + eol + "[HKEY_LOCAL_MACHINE\\Software\\" + name + "]" + eol + "\"" + name + "\"=\"" + name +
           "\"" + eol + eol;
  };
  const std::string lf = text(kV5, kCao, "\n"), crlf = text(kV5, kCao, "\r\n");
  const std::string ansi = text("REGEDIT4", "\xE7\xE3o", "\r\n");
  for (const std::string& bytes : {lf, crlf, "\xEF\xBB\xBF" + crlf, Utf16LeFile(crlf), Utf16LeFile(lf), ansi}) {
    RegDocument document = ParseRegFile(bytes);
    EXPECT_EQ(SerializeRegFile(document), bytes);  // written back as it came
    document.crlf = true;
    EXPECT_EQ(FormatRegText(document), crlf);
  }
  for (std::string e : {std::string(), std::string("\xFF\xFE"), kHeader}) EXPECT_TRUE(ParseRegFile(e).keys.empty());
  // A stray CR at a line's end is a blank, or a rewrite with LF would read it back.
  EXPECT_EQ(ParseRegFile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n; c\r\t\r\r\n").keys.at(0).values.at(0).raw, "; c");
}

// A file this system does not understand is never taken for an empty or partial registry;
// what an editor commonly gets wrong is named, not reported as a missing header or a NUL.
TEST(RegFile, MalformedTextIsRefusedNamingTheLineOrTheMistake) {
  std::string beNoBom;
  for (char c : kV5 + "\r\n") beNoBom += {'\0', c};
  const struct { std::string text; int line; const char* says = ""; } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\K]\r\n", 1}, {"Windows Registry Editor Version 5.00\r\n\"A\"=\"1\"\r\n", 2},
      {kHead + "\"A\"=\"C:\\dir\"\r\n", 4}, {kHead + "\"A\"=\"open\r\n", 4}, {kHead + "\"A\"=\"x\" y\r\n", 4},
      {kHead + "\"A\"=dword:1g\r\n", 4}, {kHead + "\"A\"=dword:100000000\r\n", 4}, {kHead + "\"A\"=1\r\n", 4},
      {kHead + "\"A\"\r\n", 4}, {kHead + "A=\"1\"\r\n", 4}, {kHead + "[HKEY_LOCAL_MACHINE\\L\r\n", 4},
      {kHead + "[-HKEY_LOCAL_MACHINE\\L]\r\n", 4}, {kHead + "\"A\"=hex:0g\r\n", 4}, {kHead + "\"A\"=hex(7:00\r\n", 4},
      {kHead + "\"A\"=hex:00,\\\r\n", 4}, {kHead + "\"A\"=hex:00,\\\r\n 01\r\n\"B\"=1\r\n", 6},
      {kHead + "\"A\"=\"1\"\r\n\"B\"=\"\xE7\"\r\n", 5},  // not UTF-8
      {"\xFF\xFE\x41", 1},                                  // half a UTF-16 unit
      {kHead + "\"A\"=\"1" + std::string(1, '\0') + "2\"\r\n", 4},  // a NUL would not read back
      {kV5 + "\r\r[HKEY_LOCAL_MACHINE\\K]\r", 1, "CR alone"}, {beNoBom, 1, "UTF-16 big-endian"},
      {Utf16LeFile(kHeader).substr(2), 1, "UTF-16LE text without its byte-order mark"},
      {"\xFE\xFF" + beNoBom, 1, "UTF-16 big-endian"},
  };
  for (const auto& c : cases) {
    int line = 0;  // accepted
    std::string message;
    try { ParseRegFile(c.text); } catch (const ERegFormatError& e) { line = e.Line(); message = e.what(); }
    EXPECT_EQ(line, c.line) << c.text;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
  }
}

// A key or value given twice in any case of a-z is one: first place and spelling, later value.
TEST(RegFile, RepeatedKeysAndValuesMergeIgnoringTheCaseOfAsciiLetters) {
  const std::string upperC = AnsiToUtf8("\xC7"), lowerC = AnsiToUtf8("\xE7");
  const RegDocument document = ParseRegFile(kHead + "\"Level\"=dword:00000002\r\n\"B\"=\"1\"\r\n\"" + upperC +
                                            "\"=\"upper\"\r\n\r\n[HKEY_LOCAL_MACHINE\\O]\r\n[hkey_local_machine\\k]\r\n"
                                            "\"level\"=\"2\"\r\n\"C\"=\"3\"\r\n\"" + lowerC + "\"=\"lower\"\r\n");
  EXPECT_EQ(FormatRegText(document), kHead + "\"Level\"=\"2\"\r\n\"B\"=\"1\"\r\n\"" + upperC +
                                         "\"=\"upper\"\r\n\"C\"=\"3\"\r\n\"" + lowerC +
                                         "\"=\"lower\"\r\n\r\n[HKEY_LOCAL_MACHINE\\O]\r\n\r\n");
}

class RegistryFileTest : public ::testing::Test {
 protected:
  ScratchRegistry scratch_{::qar::testing::ReachableScratchDirectory()};  // unprivileged checks reach it
  const std::string& Path() const { return scratch_.KeyPath(); }
  fs::path File() const { return scratch_.FilePath(); }
  std::string FileKey() const { return "HKEY_LOCAL_MACHINE\\" + Path(); }
};

// A write changes its own line only (a new key goes after its relatives); all else in an
// editor's export stays byte for byte. Quoted texts unescape; hex(1) and hex(2) are text.
TEST_F(RegistryFileTest, AWriteKeepsEverythingElseTheFileHolds) {
  const auto file = [&](const std::string& level, const std::string& added) {
    return Utf16LeFile(
        kHeader + "; kept\r\n\r\n[" + FileKey() + "]\r\n\"C:\\\\dir \\\"q\\\"\"=\"a\\\\b \\\"q\\\"=1\"\r\n@=\"d\"\r\n" +
        "\"Level\"=dword:0000000" + level + "\r\n; in a key\r\n\"Multi\"=hex(7):41,00,00,00,00,00\r\n"
        "\"Blob\"=hex:de,AD,  be,ef\r\n\"Gone\"=-\r\n\"Dir\"=hex(2):25,00,54,00,25,00,\\\r\n  00,00\r\n"
        "\"Plain\"=hex(1):e7,00,e3,00,6f,00,00,00\r\n\r\n[" + FileKey() + "\\A\\B]\r\n\r\n" + added +
        "[HKEY_LOCAL_MACHINE\\Other]\r\n\"Greek\"=\"\xCE\xA9\"\r\n\r\n");
  };
  std::ofstream(File(), std::ios::binary) << file("a", "");
  RegistryKey key;
  ASSERT_EQ(key.Open(Path() + "\\A\\C", true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.Open(Path(), false), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteInteger("level", 11), RegStatus::kOk) << key.LastError();
  EXPECT_EQ(ReadBytes(File()), file("b", "[" + FileKey() + "\\A\\C]\r\n\r\n"));
  for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
           {"C:\\dir \"q\"", "a\\b \"q\"=1"}, {"", "d"}, {"Dir", "%T%"}, {"Plain", "\xE7\xE3o"}}) {
    std::string text;
    EXPECT_TRUE(key.ReadString(name, text) == RegStatus::kOk && text == expected) << name << ": " << text;
  }
  std::int32_t number = 0;
  for (const char* name : {"Multi", "Blob", "Gone"}) EXPECT_EQ(key.ReadInteger(name, number), RegStatus::kWrongType);

  // A file that does not parse fails every call, naming itself and the line, and is never rewritten.
  const std::string broken = kHeader + "[" + FileKey() + "]\r\n\"TmpFileDir\"=\"C:\\logs\"\r\n";
  std::ofstream(File(), std::ios::binary) << broken;
  EXPECT_EQ(key.ReadInteger("Level", number), RegStatus::kFailed);
  EXPECT_NE(key.LastError().find(File().string() + " is not a registry file, line 4"), std::string::npos);
  EXPECT_EQ(key.WriteInteger("Level", 2), RegStatus::kFailed);
  EXPECT_EQ(key.Open(Path() + "\\New", true), RegStatus::kFailed);
  EXPECT_EQ(ReadBytes(File()), broken);
}

// A missing file is made with its directories, mode 0644 whatever the umask. Writers lose no
// value; a write renames a temp file over the file: an old reader keeps it entire, a link stays
// a link, the mode stays, no temp file is left.
TEST_F(RegistryFileTest, WritersTakeTurnsAndReplaceTheFileWhole) {
  const fs::path real = scratch_.Directory() / "etc" / "qarsnc" / "HKLM.reg";
  SetEnv("QARSNC_HKLM", real.string());
  const mode_t oldMask = ::umask(077);
  RegistryKey key;
  EXPECT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ::umask(oldMask);
  EXPECT_EQ(ModeOf(real), 0644);
  const std::string created = Utf16LeFile(kHeader + "[" + FileKey() + "]\r\n\r\n");
  EXPECT_EQ(ReadBytes(real), created);
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  fs::create_hard_link(real, scratch_.Directory() / "old.reg");  // stands for a reader with the file open
  fs::create_symlink(real, File());
  SetEnv("QARSNC_HKLM", File().string());

  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w) {
    writers.emplace_back([this, w] {
      RegistryKey own;  // if it does not open, its writes fail and the check below sees it
      own.Open(Path(), false);
      for (int n = w * 15; n < w * 15 + 15; ++n) own.WriteInteger("W" + std::to_string(n), n);
    });
  }
  for (std::thread& writer : writers) writer.join();
  for (int n = 0; n < 45; ++n) {
    std::int32_t number = -1;
    EXPECT_TRUE(key.ReadInteger("W" + std::to_string(n), number) == RegStatus::kOk && number == n) << n;
  }
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_EQ(ModeOf(real), 0600);
  EXPECT_EQ(ReadBytes(scratch_.Directory() / "old.reg"), created);
  EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(RegistryFileTest, AWriteKeepsTheFilesEncodingAndLineEnds) {
  const auto text = [&](const std::string& header, const std::string& eol, const std::string& level) {
    return header + eol + eol + "[" + FileKey() + "]" + eol + "\"Level\"=dword:0000000" + level + eol + eol;
  };
  const struct { std::string before, after; } cases[] = {
      {text(kV5, "\n", "1"), text(kV5, "\n", "2")},
      {"\xEF\xBB\xBF" + text(kV5, "\r\n", "1"), "\xEF\xBB\xBF" + text(kV5, "\r\n", "2")},
      {Utf16LeFile(text(kV5, "\n", "1")), Utf16LeFile(text(kV5, "\n", "2"))},
      {text("REGEDIT4", "\r\n", "1"), text("REGEDIT4", "\r\n", "2")},
  };
  for (const auto& c : cases) {
    std::ofstream(File(), std::ios::binary | std::ios::trunc) << c.before;
    RegistryKey key;
    ASSERT_EQ(key.Open(Path(), false), RegStatus::kOk) << key.LastError();
    ASSERT_EQ(key.WriteInteger("Level", 2), RegStatus::kOk) << key.LastError();
    EXPECT_EQ(ReadBytes(File()), c.after);
  }
}

// Text may hold any byte but NUL: a line break is written as hex(1); the file stays readable.
TEST_F(RegistryFileTest, EveryByteOfATextReadsBackAndTheFileParses) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  std::string bytes, text;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  ASSERT_EQ(key.WriteString("All", bytes), RegStatus::kOk) << key.LastError();
  EXPECT_TRUE(key.ReadString("All", text) == RegStatus::kOk && text == bytes);
  EXPECT_NO_THROW(ParseRegFile(ReadBytes(File())));
}

// Full access needs write permission on the file and on its directory (a rewrite's temp file).
TEST_F(RegistryFileTest, FileThatMayNotBeWrittenOpensForReadingOnly) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  const std::string path = Path();
  for (const auto& [dirMode, fileMode] : {std::pair{0777, 0444}, std::pair{0555, 0666}}) {
    ASSERT_EQ(::chmod(scratch_.Directory().c_str(), dirMode) + ::chmod(File().c_str(), fileMode), 0);
    const int failed = ::qar::testing::RunUnprivileged([&path] {
      RegistryKey key;
      std::string text;
      if (key.Open(path, false, RegAccess::kFull) != RegStatus::kAccessDenied) return 1;
      if (key.Open(path, true, RegAccess::kFull) != RegStatus::kAccessDenied) return 2;
      if (key.Open(path + "\\New", true, RegAccess::kRead) != RegStatus::kAccessDenied) return 3;
      if (key.Open(path, false, RegAccess::kRead) != RegStatus::kOk) return 4;
      if (key.ReadString("SqlMonUser", text) != RegStatus::kOk || text != "ANA") return 5;
      return key.WriteString("SqlMonUser", "X") != RegStatus::kAccessDenied ? 6 : 0;
    });
    EXPECT_EQ(failed, 0) << std::oct << dirMode << "/" << fileMode << ": the check that failed";
  }
  ::chmod(scratch_.Directory().c_str(), 0755);
}

}  // namespace
}  // namespace qar::platform
