// The lock and unlock dialogs: their checks through the models, and what the
// answers and console front-ends make of a refused password.
#include <gtest/gtest.h>

#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/console/console_front_end.h"
#include "ui/fakes.h"
#include "ui/password_dialogs.h"

namespace crx::ui {
namespace {

std::string Value(const Dialog& d, const char* field) { return d.FindField(field)->value; }

TEST(LockArchiveDialog, RefusesShortAndMismatchedPasswords) {
  LockArchiveDialog d;
  EXPECT_EQ(d.Name(), "LockArchive");
  EXPECT_EQ(d.Caption(), "Cratex - Lock Archive");
  EXPECT_EQ(d.Text(), "enter password to lock the archive");
  ASSERT_EQ(d.Fields().size(), 2u);
  EXPECT_EQ(d.Fields()[0].label, "password....");
  EXPECT_EQ(d.Fields()[1].label, "confirm password...");
  EXPECT_EQ(d.Fields()[1].kind, FieldKind::kPassword);

  std::string error;
  ASSERT_TRUE(d.SetField("Password", "abc", &error));
  ASSERT_TRUE(d.SetField("Confirm", "abc", &error));
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "The password must be at least 4 characters");
  EXPECT_EQ(Value(d, "Password"), "abc") << "a short password is left for correcting";

  d.SetField("Password", "abcd", &error);
  d.SetField("Confirm", "abcD", &error);
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "The passwords do not match");
  EXPECT_EQ(Value(d, "Password"), "");
  EXPECT_EQ(Value(d, "Confirm"), "");
  EXPECT_FALSE(d.Closed());

  // The length is checked on the first field alone.
  d.SetField("Confirm", "abcd", &error);
  EXPECT_FALSE(d.Press(kIdOk, &error));
  EXPECT_EQ(error, "The password must be at least 4 characters");

  d.SetField("Password", "abcd", &error);
  d.SetField("Confirm", "abcd", &error);
  EXPECT_TRUE(d.Press(kIdOk, &error)) << error;
  EXPECT_EQ(d.Password(), "abcd");

  LockArchiveDialog cancelled;
  EXPECT_TRUE(cancelled.Press(kIdCancel, &error)) << "Cancel needs no password";
}

TEST(UnlockArchiveDialog, StaysOpenUntilThePasswordMatches) {
  UnlockArchiveDialog d(DigestFromTypedPassword("Tr0ub4dor"));
  EXPECT_EQ(d.Name(), "UnlockArchive");
  EXPECT_EQ(d.Caption(), "Cratex - Unlock Archive");
  EXPECT_EQ(d.Text(), "enter password to unlock the archive");
  ASSERT_EQ(d.Fields().size(), 1u);
  std::string error;
  for (const char* wrong : {"tr0ub4dor", "Tr0ub4", ""}) {
    d.SetField("Password", wrong, &error);
    EXPECT_FALSE(d.Press(kIdOk, &error)) << wrong;
    EXPECT_EQ(error, "Incorrect Password");
    EXPECT_EQ(Value(d, "Password"), "");
  }
  // Only the first eight characters count.
  d.SetField("Password", "Tr0ub4doXXX", &error);
  EXPECT_TRUE(d.Press(kIdOk, &error)) << error;

  UnlockArchiveDialog cancelled(DigestFromTypedPassword("abcd"));
  EXPECT_TRUE(cancelled.Press(kIdCancel, &error));
}

using test::Answers;
using test::Ended;

TEST(PasswordDialogs, AnsweredFromAFile) {
  const std::string digest = DigestFromTypedPassword("s3cret pass");
  Ended ended;
  AnswersFrontEnd answers = Answers(
      "LockArchive OK Password=\"s3cret pass\" Confirm=\"s3cret pass\"\n"
      "LockArchive Cancel\n"
      "UnlockArchive OK Password=s3cret\n"  // wrong: ends the run
      "UnlockArchive OK Password=\"s3cret p\"\n"
      "UnlockArchive Cancel\n",
      ended);
  std::string password = "unchanged";
  EXPECT_TRUE(RunLockDialog(answers, &password));
  EXPECT_EQ(password, "s3cret pass");
  password = "unchanged";
  EXPECT_FALSE(RunLockDialog(answers, &password));
  EXPECT_EQ(password, "unchanged");
  EXPECT_EQ(ended.calls, 0) << ended.message;

  // A wrong password is not asked again: the run ends with a message that
  // names the line and the reason, and the dialog counts as cancelled.
  EXPECT_FALSE(RunUnlockDialog(answers, digest));
  EXPECT_EQ(ended.calls, 1);
  EXPECT_EQ(ended.code, kAnswersExitCode);
  EXPECT_NE(ended.message.find("line 3: the dialog \"UnlockArchive\" (\"Cratex - Unlock Archive\": "
                               "\"enter password to unlock the archive\") refused \"OK\": "
                               "Incorrect Password"),
            std::string::npos)
      << ended.message;
  EXPECT_EQ(answers.Remaining(), 2u);

  EXPECT_TRUE(RunUnlockDialog(answers, digest));
  EXPECT_FALSE(RunUnlockDialog(answers, digest));
  // No digest, nothing to unlock: no dialog, no answer used.
  EXPECT_TRUE(RunUnlockDialog(answers, ""));
  EXPECT_EQ(ended.calls, 1);

  Ended mismatch;
  AnswersFrontEnd lock = Answers("LockArchive OK Password=abcd Confirm=abce\n", mismatch);
  EXPECT_FALSE(RunLockDialog(lock, &password));
  EXPECT_NE(mismatch.message.find("refused \"OK\": The passwords do not match"), std::string::npos)
      << mismatch.message;
}

TEST(PasswordDialogs, TheConsoleAsksAgainAfterARefusal) {
  test::FakeTerminal terminal;
  // Wrong password, then OK; the right one, then Enter (OK is the default).
  terminal.input = {"guess", "o", "open sesame", ""};
  ConsoleFrontEnd console(terminal);
  EXPECT_TRUE(RunUnlockDialog(console, DigestFromTypedPassword("open sesame")));
  EXPECT_NE(terminal.output.find("Incorrect Password\n"), std::string::npos) << terminal.output;

  // Short, mismatched, then matching entries; end of input cancels.
  terminal.input = {"abc", "abc", "", "abcd", "abdc", "", "abcd", "abcd", ""};
  std::string password;
  EXPECT_TRUE(RunLockDialog(console, &password));
  EXPECT_EQ(password, "abcd");
  EXPECT_FALSE(RunLockDialog(console, &password));
  EXPECT_FALSE(RunUnlockDialog(console, DigestFromTypedPassword("abcd")));
}

}  // namespace
}  // namespace crx::ui
