// CRC-32, code pages, streams and the dialog helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <thread>

#include "base/CodePage.h"
#include "base/ControlEscape.h"
#include "base/Crc32.h"
#include "base/Dialogs.h"
#include "base/Errors.h"
#include "base/Streams.h"
#include "tests/support/TempDir.h"

namespace krevo::base {
namespace {

TEST(Crc32, MatchesTheZipCheckValueInOneGoAndInPieces) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(text, 9), 0xCBF43926u);
  std::uint32_t running = 0xFFFFFFFFu;
  running = UpdateCrc32(running, text, 4);
  running = UpdateCrc32(running, text + 4, 5);
  EXPECT_EQ(~running, 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(ControlEscape, SpellsOutEveryControlCharacterAndKeepsTheRest) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"a\r\nforged line", "a\\r\\nforged line"},
      {"tab\there", "tab\\there"},
      {"\x1b[2Jclear", "\\x1b[2Jclear"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"del\x7f", "del\\x7f"},
      {"csi\xc2\x9b"
       "31m",
       "csi\\xc2\\x9b31m"},  // U+009B in UTF-8
      {"\xc3\xbc"
       "ber \xc2\xa0",
       "\xc3\xbc"
       "ber \xc2\xa0"},  // ü and a no-break space stay
      {"back\\slash", "back\\slash"},
      {"cut\xc2", "cut\xc2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeControlCharacters(c.in), c.out) << c.out;
    EXPECT_EQ(HasControlCharacters(c.in), c.in != c.out) << c.out;
  }
}

TEST(ControlEscape, DialogTextKeepsItsLinesAndEscapesTheRest) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"one line", "one line"},
      {"550 Gone.\r\n", "550 Gone."},
      {"first\r\nsecond\r\n\r\n", "first\nsecond"},
      {"unix\nlines\n", "unix\nlines"},
      {"lone\rreturn\r", "lone\\rreturn"},
      {"esc \x1b[2J\r\ntab\tbell\x07", "esc \\x1b[2J\ntab\\tbell\\x07"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControlCharactersInLines(c.in), c.out) << c.out;
}

TEST(CodePage, ConvertsOemNamesToUtf8AndBack) {
  EXPECT_EQ(OemToAnsi("plain/name.txt"), "plain/name.txt");
  EXPECT_EQ(OemToAnsi("\x81"
                      "ber\x94"),
            "\xC3\xBC"
            "ber\xC3\xB6");                                              // über, ö
  EXPECT_EQ(OemToAnsi("\xE1\xFF\xB0"), "\xC3\x9F\xC2\xA0\xE2\x96\x91");  // ß, no-break space, ░
  EXPECT_EQ(AnsiToOem("\xC3\xBC"
                      "ber"),
            "\x81"
            "ber");
  EXPECT_EQ(AnsiToOem("\xE2\x82\xAC"), "?");  // the euro sign is not in the table
  EXPECT_EQ(AnsiToOem("\xC3"), "?");          // cut-off sequence
  std::string all;
  for (int c = 0x80; c < 0x100; ++c) all += static_cast<char>(c);
  EXPECT_EQ(AnsiToOem(OemToAnsi(all)), all);
}

TEST(Streams, MemoryFileAndNullStreamsAgree) {
  test::TempDir dir;
  TMemoryStream memory;
  memory.WriteBuffer("hello world", 11);
  EXPECT_EQ(memory.Size(), 11);
  memory.SetPosition(6);
  char buf[16] = {};
  EXPECT_EQ(memory.Read(buf, 16), 5);
  EXPECT_STREQ(buf, "world");
  EXPECT_THROW(memory.ReadBuffer(buf, 1), EReadError);
  EXPECT_THROW(memory.Seek(-1, TSeekOrigin::soBeginning), EStreamError);

  {
    TFileStream file(dir / "f.bin", fmCreate);
    EXPECT_EQ(file.CopyFrom(memory, 0), 11);
    file.SetSize(5);
    EXPECT_EQ(file.Size(), 5);
  }
  TMemoryStream loaded;
  loaded.LoadFromFile(dir / "f.bin");
  EXPECT_EQ(loaded.AsString(), "hello");
  EXPECT_THROW(TFileStream(dir / "missing", fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(dir / "no/such", fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(dir.Folder(), fmOpenRead), EFOpenError);

  {
    // The file stream keeps its own position: seeks, reads and writes at
    // it, past the end included, agree with what lands in the file.
    TFileStream file(dir / "f.bin", fmOpenReadWrite);
    EXPECT_EQ(file.Seek(-2, TSeekOrigin::soEnd), 3);
    EXPECT_EQ(file.Read(buf, 16), 2);
    EXPECT_EQ(file.Position(), 5);
    file.SetPosition(8);
    file.WriteBuffer("!", 1);
    EXPECT_EQ(file.Size(), 9);
    EXPECT_EQ(file.Seek(-9, TSeekOrigin::soCurrent), 0);
    EXPECT_THROW(file.Seek(-1, TSeekOrigin::soCurrent), EStreamError);
    EXPECT_EQ(file.Position(), 0);
  }
  loaded.LoadFromFile(dir / "f.bin");
  EXPECT_EQ(loaded.AsString(), std::string("hello\0\0\0!", 9));
  {
    // A pipe is read in order; it cannot seek.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::thread writer([&] { TFileStream(dir / "fifo", fmOpenWrite).WriteBuffer("piped", 5); });
    TFileStream pipe(dir / "fifo", fmOpenRead);
    pipe.ReadBuffer(buf, 5);
    writer.join();
    EXPECT_EQ(std::string(buf, 5), "piped");
    EXPECT_EQ(pipe.Position(), 5);
    EXPECT_THROW(pipe.SetPosition(0), EStreamError);
  }

  TNullStream null;
  null.WriteBuffer("abc", 3);
  null.Seek(10, TSeekOrigin::soCurrent);
  null.WriteBuffer("d", 1);
  EXPECT_EQ(null.Size(), 14);
  EXPECT_EQ(null.Read(buf, 4), 0);
}

TEST(Dialogs, DefaultsAndUnattendedAnswers) {
  const auto ok = MakeButtons({mbOK});
  const auto yesNo = MakeButtons({mbYes, mbNo});
  const auto abortRetryIgnore = MakeButtons({mbAbort, mbRetry, mbIgnore});
  const auto overwrite = MakeButtons({mbYes, mbNo, mbNoToAll, mbYesToAll});
  EXPECT_EQ(DefaultButton(ok), mbOK);
  EXPECT_EQ(DefaultButton(yesNo), mbYes);
  EXPECT_EQ(DefaultButton(abortRetryIgnore), mbAbort);
  EXPECT_EQ(UnattendedResult(ok), mrOk);
  EXPECT_EQ(UnattendedResult(yesNo), mrNo);
  EXPECT_EQ(UnattendedResult(overwrite), mrNo);
  EXPECT_EQ(UnattendedResult(abortRetryIgnore), mrAbort);
  EXPECT_EQ(UnattendedResult(MakeButtons({mbOK, mbCancel})), mrCancel);
  // The silent service answers every dialog the unattended way.
  std::string value = "keep";
  EXPECT_EQ(Dialogs().MessageDlg("?", TMsgDlgType::mtConfirmation, yesNo), mrNo);
  EXPECT_FALSE(Dialogs().InputQuery("c", "p", value));
  EXPECT_EQ(value, "keep");
}

TEST(Dialogs, ErrorDisplayAppendsAFullStopAfterLettersAndDigits) {
  EXPECT_EQ(ErrorDisplayText("File access denied"), "File access denied.");
  EXPECT_EQ(ErrorDisplayText("I/O error 105"), "I/O error 105.");
  EXPECT_EQ(ErrorDisplayText("Done."), "Done.");
  EXPECT_EQ(ErrorDisplayText("What?"), "What?.");  // '?' sorts after '.'
  EXPECT_EQ(ErrorDisplayText("a -"), "a -");
  EXPECT_EQ(ErrorDisplayText(""), "");
}

}  // namespace
}  // namespace krevo::base
